// Drives a PJLink port with npm's pjlink client, as a controller would: power, input, mute,
// lamps, errors, name and information, one after another. Prints one JSON line per call:
// {"call": ..., "error": message or null, "result": [...]}; exits 0 once every call is done.
//
//   node pjlink-client.js HOST PORT [PASSWORD]
'use strict';

const PJLink = require('pjlink');

const [host, port, password] = process.argv.slice(2);
const projector = new PJLink(host, Number(port), password || undefined);

const calls = [
    ['getClass'],
    ['getPowerState'],
    ['powerOn'],
    ['getPowerState'],
    ['getInputs'],
    ['setInput', {source: 'VIDEO', channel: 1}],
    ['getInput'],
    ['setInput', {source: 'RGB', channel: 2}],
    ['getInput'],
    ['setInput', {source: 'DIGITAL', channel: 1}],
    ['setMute', {video: true, audio: false}],
    ['getMute'],
    ['setMute', {video: false, audio: true}],
    ['getMute'],
    ['setMute', true],
    ['getMute'],
    ['setMute', false],
    ['getMute'],
    ['getLamps'],
    ['getErrors'],
    ['getName'],
    ['getManufacturer'],
    ['getModel'],
    ['getInfo'],
    ['powerOff'],
    ['getPowerState'],
];

function call([method, ...args]) {
    return new Promise((resolve) => {
        projector[method](...args, (error, ...result) => {
            resolve({call: method, error: error ? error.message : null, result});
        });
    });
}

(async () => {
    for (const c of calls) console.log(JSON.stringify(await call(c)));
    projector.disconnect();
})();
