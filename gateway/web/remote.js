// The web remote of projectord: the model's buttons from the daemon's tables, presses through
// the HTTP API, TXD, RXD, STATUS and the line's state live over a WebSocket. Text from outside
// (names, replies) is only ever set as textContent.
'use strict';

const kTokenKey = 'projectord-token';
let token = localStorage.getItem(kTokenKey) || '';
let session = '';
let projector = '';
const holdMsByCode = new Map();
let clearTimer = 0;
let tokenRefused = false;

const $ = (id) => document.getElementById(id);

// Asks for the token once; it is kept in this browser from then on.
let asking = null;
function askToken(why) {
  if (asking) return asking;
  const dialog = $('token-dialog');
  if (why) $('token-why').textContent = why;
  asking = new Promise((resolve) => {
    $('token-form').addEventListener('submit', () => {
      token = $('token').value.trim();
      localStorage.setItem(kTokenKey, token);
      asking = null;
      resolve();
    }, { once: true });
  });
  dialog.showModal();
  $('token').focus();
  return asking;
}

async function api(method, path, body) {
  for (;;) {
    const headers = {};
    if (token) headers.Authorization = 'Bearer ' + token;
    if (session) headers['X-Remote-Session'] = session;
    if (body !== undefined) headers['Content-Type'] = 'application/json';
    let response;
    try {
      response = await fetch(path, { method, headers, body: body === undefined ? undefined : JSON.stringify(body) });
    } catch (e) {
      return { status: 0, body: { error: 'the gateway cannot be reached' } };
    }
    let json = null;
    try {
      json = await response.json();
    } catch (e) {
      json = { error: 'an answer that is not JSON' };
    }
    if (response.status === 401) {
      await askToken(token ? 'That token was not taken. Try again.' : undefined);
      continue;
    }
    return { status: response.status, body: json };
  }
}

function setLine(state, reason) {
  const line = $('line');
  line.classList.toggle('down', state !== 'up');
  if (state === 'up') line.textContent = 'The projector\'s line is up.';
  else if (state === 'connecting') line.textContent = 'Connecting to the projector\'s line…';
  else line.textContent = 'The projector\'s line is down: ' + (reason || 'no reason given') + '.';
}

function setState(s) {
  const parts = ['Power: ' + s.power];
  if (s.input) parts.push('Input: ' + s.input);
  if (s.mute) parts.push('Mute: ' + (s.mute.sound ? 'sound' : '') + (s.mute.sound && s.mute.picture ? ' and ' : '') +
                         (s.mute.picture ? 'picture' : '') + (!s.mute.sound && !s.mute.picture ? 'off' : ''));
  if (s.lampHours !== null && s.lampHours !== undefined) parts.push('Lamp: ' + s.lampHours + '\u00a0h');
  $('state').textContent = parts.join(' · ');
}

// The displays clear when the panel's display hold after the send ends.
function holdDisplays(code) {
  clearTimeout(clearTimer);
  clearTimer = setTimeout(() => {
    $('txd').textContent = '';
    $('rxd').textContent = '';
    $('status').textContent = '';
  }, holdMsByCode.get(code) || 1000);
}

function onEvent(e) {
  switch (e.event) {
    case 'hello':
      session = e.session;
      document.body.dataset.live = 'yes';
      setLine(e.state, e.reason);
      break;
    case 'line':
      setLine(e.state, e.reason);
      break;
    case 'status':
      setState(e);
      break;
    case 'sent':
      $('txd').textContent = e.sent;
      $('rxd').textContent = '';
      holdDisplays(e.command);
      break;
    case 'answered':
      $('rxd').textContent = e.display;
      if (e.status !== null && e.status !== undefined) $('status').textContent = e.status;
      break;
    case 'error':
      if (e.status === 401) tokenRefused = true;
      break;
  }
}

function listen() {
  const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
  const ws = new WebSocket(scheme + '//' + location.host + '/api/v1/projectors/' +
                           encodeURIComponent(projector) + '/events');
  ws.onopen = () => ws.send(JSON.stringify({ token }));
  ws.onmessage = (m) => {
    try {
      onEvent(JSON.parse(m.data));
    } catch (e) {
      // An event this page does not know is left aside.
    }
  };
  ws.onclose = async () => {
    session = '';
    delete document.body.dataset.live;
    if (tokenRefused) {
      tokenRefused = false;
      await askToken('That token was not taken. Try again.');
      listen();
      return;
    }
    $('line').classList.add('down');
    $('line').textContent = 'Live updates lost; trying again…';
    setTimeout(listen, 2000);
  };
}

async function press(name) {
  // Without the live events (not connected yet, or lost) the answer itself fills the displays.
  const live = session !== '';
  const r = await api('POST', '/api/v1/projectors/' + encodeURIComponent(projector) + '/press/' +
                      encodeURIComponent(name));
  if (r.status === 503 || r.status === 0) setLine('down', r.body && r.body.error);
  if (!live && r.body && typeof r.body.sent === 'string') {
    onEvent({ event: 'sent', command: r.body.command, sent: r.body.sent });
    onEvent(Object.assign({}, r.body, { event: 'answered' }));
  }
  return r;
}

// A hold key repeats while it is held, at the panel's period, and stops on release, on
// leaving the key, and when the page loses the pointer or the focus. A repeat waits for the
// one before it to be answered, so that nothing is still queued when the key is let go.
let held = null;
function startHold(button, item) {
  if (held) stopHold();
  const hold = { button, busy: true, timer: 0 };
  held = hold;
  button.classList.add('held');
  press(item.name).finally(() => { hold.busy = false; });
  hold.timer = setInterval(() => {
    if (hold.busy || held !== hold) return;
    hold.busy = true;
    press(item.name).finally(() => { hold.busy = false; });
  }, item.repeatMs);
}
function stopHold() {
  if (!held) return;
  clearInterval(held.timer);
  held.button.classList.remove('held');
  held = null;
  // As the panel's release: TXD and RXD empty at once, STATUS at the end of the hold.
  $('txd').textContent = '';
  $('rxd').textContent = '';
}

function holdKey(button, item) {
  button.addEventListener('pointerdown', (e) => {
    e.preventDefault();
    // A touch would keep the key captured: leaving it must end the hold.
    if (button.hasPointerCapture(e.pointerId)) button.releasePointerCapture(e.pointerId);
    button.focus();
    startHold(button, item);
  });
  for (const type of ['pointerup', 'pointercancel', 'pointerleave', 'lostpointercapture', 'blur']) {
    button.addEventListener(type, stopHold);
  }
  button.addEventListener('contextmenu', (e) => e.preventDefault());
  button.addEventListener('keydown', (e) => {
    if ((e.key === ' ' || e.key === 'Enter') && !e.repeat) {
      e.preventDefault();
      startHold(button, item);
    }
  });
  button.addEventListener('keyup', (e) => {
    if (e.key === ' ' || e.key === 'Enter') {
      e.preventDefault();
      stopHold();
    }
  });
}

function buildRemote(layout) {
  const remote = $('remote');
  remote.replaceChildren();
  let described = 0;
  for (const section of layout.sections) {
    const group = document.createElement('section');
    group.className = section.columns >= 3 ? 'group wide' : 'group';
    if (section.title) {
      const h = document.createElement('h2');
      h.textContent = section.title;
      h.id = 'group-' + remote.children.length;
      group.setAttribute('aria-labelledby', h.id);
      group.append(h);
    }
    const keys = document.createElement('div');
    keys.className = 'keys';
    // A column of row labels takes what its labels need; the keys share the rest.
    const labelled = section.items.some((item) => !item.name);
    keys.style.gridTemplateColumns = (labelled ? 'auto ' : '') +
      'repeat(' + (section.columns - (labelled ? 1 : 0)) + ', minmax(0, 1fr))';
    for (const item of section.items) {
      let el;
      if (item.name) {
        el = document.createElement('button');
        el.type = 'button';
        el.dataset.name = item.name;
        holdMsByCode.set(item.code, item.holdMs);
        if (item.description) {
          const d = document.createElement('span');
          d.id = 'description-' + ++described;
          d.className = 'hint';
          d.textContent = item.description;
          el.setAttribute('aria-describedby', d.id);
          keys.append(d);
        }
        if (item.repeatMs) holdKey(el, item);
        else el.addEventListener('click', () => press(item.name));
        el.style.backgroundColor = item.back;
        el.style.color = item.text;
      } else {
        el = document.createElement('span');
      }
      el.textContent = item.caption;
      el.style.gridRow = String(item.row);
      el.style.gridColumn = item.column + ' / span ' + item.columns;
      keys.append(el);
    }
    group.append(keys);
    remote.append(group);
  }
}

async function showRemote(name) {
  projector = name;
  const [status, layout] = await Promise.all([
    api('GET', '/api/v1/projectors/' + encodeURIComponent(name)),
    api('GET', '/api/v1/projectors/' + encodeURIComponent(name) + '/remote'),
  ]);
  if (status.status !== 200 || layout.status !== 200) {
    setLine('down', (status.body && status.body.error) || (layout.body && layout.body.error));
    return;
  }
  $('title').textContent = status.body.label + ' · ' + status.body.model;
  document.title = status.body.label + ' · projector remote';
  setLine(status.body.state, status.body.reason);
  setState(status.body);
  buildRemote(layout.body);
  $('displays').hidden = false;
  listen();
}

function showList(projectors) {
  $('title').textContent = 'Projectors';
  $('line').textContent = projectors.length + ' projectors';
  const list = $('list');
  list.replaceChildren();
  for (const p of projectors) {
    const li = document.createElement('li');
    const a = document.createElement('a');
    a.href = '/projectors/' + encodeURIComponent(p.name);
    a.textContent = p.label + ' · ' + p.model + (p.up ? '' : ' · line down');
    li.append(a);
    list.append(li);
  }
  list.hidden = false;
}

async function start() {
  window.addEventListener('blur', stopHold);
  document.addEventListener('visibilitychange', () => { if (document.hidden) stopHold(); });
  const r = await api('GET', '/api/v1/projectors');
  if (r.status !== 200) {
    setLine('down', r.body && r.body.error);
    return;
  }
  const m = location.pathname.match(/^\/projectors\/([^/]+)$/);
  if (m) await showRemote(decodeURIComponent(m[1]));
  else if (r.body.projectors.length === 1) await showRemote(r.body.projectors[0].name);
  else showList(r.body.projectors);
}

start();
