#!/usr/bin/env bash
# Install check of the Debian package, run by ./go test after the unit tests:
#   - builds the package (./go package; the Release build in build-package is reused);
#   - checks its contents: the files and their places, the icons' sizes, the desktop entries
#     and AppStream data against the programs and icons they name, the changelog against the
#     version, and lintian, desktop-file-validate and appstreamcli where they are installed;
#   - installs it with apt-get, starts both programs from their installed paths (offscreen)
#     on a pseudo-terminal named by PROJECTOR_COM1, sees that each has the device open,
#     ends each with SIGTERM and expects exit status 0;
#   - runs the installed projectorctl on such a pseudo-terminal (no reply: exit status 1),
#     checks that it links no widget or GUI library, and runs its bash completion;
#   - checks projectord's example configuration, starts it on such a pseudo-terminal and ends
#     it with SIGTERM, and measures its service's exposure with systemd-analyze;
#   - purges the package and checks that none of its files remain.
# Runs only as root with a working apt, and not when PANEL_TEST_INSTALL=0; otherwise it says
# why it skips and succeeds. It leaves the machine as it found it, also when a check fails.
set -eEuo pipefail
cd "$(dirname "$0")/../.."

package=projector-panel
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
module=usr/lib/$multiarch/$package/network-transports.so
programs=(TR27KRSC TR52)
declare -A model_of=([TR27KRSC]=TR27K [TR52]=TR52)
open_timeout=10   # seconds for a program to open its device
exit_timeout=10   # seconds for it to end after SIGTERM

skip() {
    echo "install check skipped: $*"
    exit 0
}

[ "${PANEL_TEST_INSTALL:-1}" != 0 ] || skip "PANEL_TEST_INSTALL=0"
[ "$(id -u)" -eq 0 ] || skip "it installs a package and needs root (sudo ./go test, or PANEL_TEST_INSTALL=0 to silence this)"
command -v apt-get >/dev/null && command -v dpkg >/dev/null || skip "no apt-get or dpkg on this machine"
apt-get check -qq >/dev/null 2>&1 || skip "apt-get check fails: the package database needs repair first"
[ -d /proc/self/fd ] || skip "no /proc to see a program's open files in"
if [ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)" = "install ok installed" ]; then
    skip "$package is installed on this machine; remove it first (apt-get remove $package)"
fi

work=$(mktemp -d)
installed=0
pids=()
passed=0

cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    if [ "$installed" -eq 1 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -qq "$package" >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    # In a command substitution the shell around it reports the failure.
    [ "$BASH_SUBSHELL" -eq 0 ] || exit 1
    echo "install check FAILED: $*" >&2
    echo "install-check: $passed passed, 1 failed"
    exit 1
}
trap 'fail "command failed at line $LINENO"' ERR

pass() {
    passed=$((passed + 1))
    echo "  ok: $*"
}

# --- Build -----------------------------------------------------------------------------

echo "install check: building the package"
if ! ./go package >"$work/package.out" 2>"$work/package.log"; then
    tail -n 40 "$work/package.log" >&2
    fail "./go package failed"
fi
deb=$(tail -n 1 "$work/package.out")
[ -f "$deb" ] || fail "./go package printed \"$deb\", which is no file"
echo "install check: $deb"

# --- Contents --------------------------------------------------------------------------

version=$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no project version in CMakeLists.txt"
[ "$(dpkg-deb -f "$deb" Package)" = "$package" ] || fail "package name is $(dpkg-deb -f "$deb" Package)"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] ||
    fail "package version $(dpkg-deb -f "$deb" Version), project version $version"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libqt6serialport6 libqt6network6 libc6; do
    [[ ", $depends," == *", $library "* ]] || fail "Depends lacks $library: $depends"
done
# Read whole before it is searched: dpkg-deb writes line by line, and a reader that stops at
# the first match would leave it to die of SIGPIPE, failing the pipeline.
description=$(dpkg-deb -f "$deb" Description)
[[ $description == *dialout* ]] || fail "the description does not mention the dialout group"
pass "control: $package $version, Depends from the binaries ($depends)"

root="$work/root"
dpkg-deb -x "$deb" "$root"
expected=(usr/share/doc/$package/copyright usr/share/doc/$package/changelog.gz
          $module usr/bin/projectorctl usr/share/man/man1/projectorctl.1.gz
          usr/share/bash-completion/completions/projectorctl
          usr/bin/projectord usr/share/man/man8/projectord.8.gz
          usr/share/doc/$package/examples/projectord.conf usr/lib/systemd/system/projectord.service)
for program in "${programs[@]}"; do
    id=io.github.projectorpanel.${program,,}
    expected+=(usr/bin/$program usr/share/man/man1/$program.1.gz
               usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml
               usr/share/icons/hicolor/scalable/apps/$id.svg usr/share/icons/hicolor/48x48/apps/$id.png)
done
(cd "$root" && find . ! -type d | sed 's|^\./||' | sort) >"$work/contents"
printf '%s\n' "${expected[@]}" | sort >"$work/expected"
if ! diff -u "$work/expected" "$work/contents" >"$work/contents.diff"; then
    cat "$work/contents.diff" >&2
    fail "the package does not hold exactly the expected files"
fi
for program in "${programs[@]}" projectorctl projectord; do
    [ -x "$root/usr/bin/$program" ] || fail "usr/bin/$program is not executable"
done
bad_modes=$(cd "$root" && find . \( -type f ! -path './usr/bin/*' -perm /0133 \) -o \( -path './usr/bin/*' ! -perm 0755 \) -o \( -type d ! -perm 0755 \))
[ -z "$bad_modes" ] || fail "unexpected file modes: $bad_modes"
pass "contents: ${#expected[@]} files in their places, modes 0755/0644"

# The width and height of a PNG, from its IHDR chunk.
png_size() {
    od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }'
}

for program in "${programs[@]}"; do
    id=io.github.projectorpanel.${program,,}
    model=${model_of[$program]}
    desktop=$root/usr/share/applications/$id.desktop
    value() { sed -n "s/^$1=//p" "$desktop"; }
    [ "$(value Name)" = "$model Control" ] || fail "$id.desktop: Name is \"$(value Name)\""
    [ "$(value Exec)" = "$program" ] || fail "$id.desktop: Exec is \"$(value Exec)\", not $program"
    [ "$(value Terminal)" = false ] || fail "$id.desktop: Terminal is not false"
    value Comment | grep -qi serial || fail "$id.desktop: the Comment does not mention the serial line"
    icon=$(value Icon)
    [ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "$id.desktop: no scalable icon \"$icon\""
    png=$root/usr/share/icons/hicolor/48x48/apps/$icon.png
    [ -f "$png" ] || fail "$id.desktop: no 48x48 icon \"$icon\""
    [ "$(png_size "$png")" = 48x48 ] || fail "$icon.png is $(png_size "$png"), not 48x48"
    metainfo=$root/usr/share/metainfo/$id.metainfo.xml
    grep -q "<id>$id</id>" "$metainfo" || fail "$id.metainfo.xml: the component id is not $id"
    grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
        fail "$id.metainfo.xml: does not launch $id.desktop"
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$desktop" || fail "desktop-file-validate: $id.desktop"
    fi
done
pass "desktop entries: Name, Exec and Icon name the package's programs and 48x48 and scalable icons"

changelog_head=$(zcat "$root/usr/share/doc/$package/changelog.gz" | head -n 1)
[[ "$changelog_head" == "$package ($version) "* ]] ||
    fail "the changelog starts with \"$changelog_head\"; it needs an entry for $version"
changelog_date=$(zcat "$root/usr/share/doc/$package/changelog.gz" | sed -n 's/^ -- .*  \(.*\)$/\1/p' | head -n 1)
release_date=$(date -u -d "$changelog_date" +%Y-%m-%d) || fail "the changelog's date \"$changelog_date\" does not parse"
for program in "${programs[@]}"; do
    id=io.github.projectorpanel.${program,,}
    grep -q "<release version=\"$version\" date=\"$release_date\"/>" "$root/usr/share/metainfo/$id.metainfo.xml" ||
        fail "$id.metainfo.xml: no release $version of $release_date"
done
pass "changelog and AppStream releases: $version of $release_date"

# The service: started only where the configuration exists, not as root, sandboxed.
unit=$root/usr/lib/systemd/system/projectord.service
for setting in ConditionPathExists=/etc/projectord.conf DynamicUser=yes SupplementaryGroups=dialout \
               "ExecStart=/usr/bin/projectord --config \${CREDENTIALS_DIRECTORY}/projectord.conf"; do
    grep -qxF "$setting" "$unit" || fail "projectord.service lacks $setting"
done
if command -v systemd-analyze >/dev/null; then
    exposure=$(systemd-analyze security --offline=true --no-pager "$unit" 2>/dev/null |
        sed -n 's/.*Overall exposure level for projectord.service: \([0-9.]*\).*/\1/p')
    [ -n "$exposure" ] || fail "systemd-analyze security gave no exposure level for projectord.service"
    awk -v e="$exposure" 'BEGIN { exit !(e <= 2.0) }' || fail "projectord.service is exposed $exposure (at most 2.0)"
    pass "projectord.service: conditional on /etc/projectord.conf, a dynamic user in dialout, exposure $exposure"
else
    echo "  (systemd-analyze not installed: the service's exposure is not measured)"
fi

if command -v appstreamcli >/dev/null; then
    appstreamcli validate-tree --no-net "$root" || fail "appstreamcli validate-tree"
    pass "appstreamcli validate-tree"
else
    echo "  (appstreamcli not installed: AppStream validation skipped)"
fi

if command -v lintian >/dev/null; then
    # lintian warns that it runs as root; nothing else comes out on stderr.
    lintian --fail-on error,warning "$deb" 2>/dev/null || fail "lintian found errors or warnings"
    pass "lintian: no errors or warnings"
else
    echo "  (lintian not installed: skipped)"
fi

# --- Install and run -------------------------------------------------------------------

echo "install check: apt-get install $deb"
installed=1
if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=120 "$deb" >"$work/install.log" 2>&1; then
    cat "$work/install.log" >&2
    fail "apt-get install"
fi
[ "$(dpkg-query -W -f='${Status}' "$package")" = "install ok installed" ] || fail "$package is not installed"
dpkg-query -L "$package" | while read -r path; do
    if [ ! -d "$path" ]; then echo "$path"; fi
done | sort >"$work/installed-files"
[ "$(wc -l <"$work/installed-files")" -eq "${#expected[@]}" ] ||
    fail "dpkg lists $(wc -l <"$work/installed-files") files, the package holds ${#expected[@]}"
while read -r path; do
    [ -f "$path" ] || fail "$path is not there after the install"
done <"$work/installed-files"
pass "apt-get install: $(wc -l <"$work/installed-files") files in place"

cc -std=c11 -Wall -Wextra -O1 -o "$work/pty-holder" tests/install/pty-holder.c || fail "building the pty holder"
mkdir -m 0700 "$work/home" "$work/runtime"

# Starts the installed program on a fresh pseudo-terminal (its arguments after the first
# with @DEVICE@ standing for the device), waits until it has the device open, ends it with
# SIGTERM and checks that it exits with status 0.
run_installed() {
    local program=$1 path=/usr/bin/$1 holder pid device opened=0 status
    shift
    grep -qx "$path" "$work/installed-files" || fail "the package does not install $path"

    "$work/pty-holder" >"$work/pty-$program" &
    holder=$!
    pids+=("$holder")
    for _ in $(seq 50); do
        device=$(head -n 1 "$work/pty-$program" 2>/dev/null || true)
        [ -n "$device" ] && break
        sleep 0.1
    done
    [ -n "$device" ] && [ -c "$device" ] || fail "the pty holder gave no device"

    # A clean environment: nothing of the build (library paths, Qt variables) leaks in.
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" \
        LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen PROJECTOR_COM1="$device" \
        "$path" "${@//@DEVICE@/$device}" >"$work/$program.log" 2>&1 &
    pid=$!
    pids+=("$pid")
    for _ in $(seq $((open_timeout * 10))); do
        if ! kill -0 "$pid" 2>/dev/null; then
            cat "$work/$program.log" >&2
            fail "$path ended before it opened $device"
        fi
        if find "/proc/$pid/fd" -mindepth 1 -maxdepth 1 -lname "$device" 2>/dev/null | grep -q .; then
            opened=1
            break
        fi
        sleep 0.1
    done
    if [ "$opened" -ne 1 ]; then
        cat "$work/$program.log" >&2
        fail "$path did not open $device within $open_timeout s"
    fi
    # A panel loads the network stack only for a network address; the daemon listens.
    local network=""
    if [ "$program" != projectord ]; then
        if grep -E 'libQt6Network|network-transports' "/proc/$pid/maps"; then
            fail "$path loaded the network library for a local device"
        fi
        network=" without the network library"
    fi

    kill -TERM "$pid"
    for _ in $(seq $((exit_timeout * 10))); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        cat "$work/$program.log" >&2
        fail "$path still runs $exit_timeout s after SIGTERM"
    fi
    status=0
    wait "$pid" || status=$?
    if [ "$status" -ne 0 ]; then
        cat "$work/$program.log" >&2
        fail "$path exited with status $status after SIGTERM"
    fi
    kill -TERM "$holder"
    wait "$holder" 2>/dev/null || true
    pass "$path opened $device (PROJECTOR_COM1)$network and ended on SIGTERM with status 0"
}

# Starts the installed program on a network address and waits until it has loaded the
# network module from where the package puts it (nothing listens there: the connection is
# refused, which the program reports in its warning box), then ends it with SIGTERM.
run_installed_network() {
    local program=$1 path=/usr/bin/$1 pid loaded=0 status
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" \
        LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen PROJECTOR_COM1=socket://127.0.0.1:9 \
        "$path" >"$work/$program-network.log" 2>&1 &
    pid=$!
    pids+=("$pid")
    for _ in $(seq $((open_timeout * 10))); do
        kill -0 "$pid" 2>/dev/null || break
        if grep -q "/$module" "/proc/$pid/maps" 2>/dev/null; then
            loaded=1
            break
        fi
        sleep 0.1
    done
    if [ "$loaded" -ne 1 ]; then
        cat "$work/$program-network.log" >&2
        fail "$path did not load /$module for a socket:// address"
    fi
    kill -TERM "$pid"
    for _ in $(seq $((exit_timeout * 10))); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && fail "$path still runs $exit_timeout s after SIGTERM"
    status=0
    wait "$pid" || status=$?
    [ "$status" -eq 0 ] || { cat "$work/$program-network.log" >&2; fail "$path exited with status $status after SIGTERM"; }
    pass "$path loaded its network module for socket://127.0.0.1:9 and ended on SIGTERM with status 0"
}

for program in "${programs[@]}"; do
    run_installed "$program"
    run_installed_network "$program"
done
# projectord from its installed path: the example configuration is sound; with a device and
# a shared line of its own it holds the device and ends on SIGTERM with 0.
/usr/bin/projectord --check --config /usr/share/doc/$package/examples/projectord.conf >/dev/null ||
    fail "projectord --check finds the example configuration wrong"
run_installed projectord --port @DEVICE@ --raw $((20000 + RANDOM % 20000)) --listen 127.0.0.1
if ldd /usr/bin/projectord | grep -E 'libQt6(Widgets|Gui)'; then
    fail "projectord links a widget or GUI library"
fi
pids=()

# projectorctl from its installed path, in the same clean environment: the device opens, the
# command goes out, no reply comes (the holder answers nothing), and the exit status says so.
"$work/pty-holder" >"$work/pty-projectorctl" &
pids+=("$!")
device=""
for _ in $(seq 50); do
    device=$(head -n 1 "$work/pty-projectorctl" 2>/dev/null || true)
    [ -n "$device" ] && break
    sleep 0.1
done
[ -n "$device" ] && [ -c "$device" ] || fail "the pty holder gave no device"
status=0
output=$(env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$work/home" LANG=C.UTF-8 \
    /usr/bin/projectorctl --port "$device" --timeout 100 send C00 2>"$work/projectorctl.log") || status=$?
[ "$status" -eq 1 ] || { cat "$work/projectorctl.log" >&2; fail "projectorctl without a reply exited with $status, not 1"; }
[ "$output" = $' C 0 0 CR \t X X X X\t' ] || fail "projectorctl printed \"$output\""
if ldd /usr/bin/projectorctl | grep -E 'libQt6(Widgets|Gui)'; then
    fail "projectorctl links a widget or GUI library"
fi
completed=$(bash -c 'source /usr/share/bash-completion/completions/projectorctl
    COMP_WORDS=(projectorctl --model TR52 press logo-o); COMP_CWORD=4; _projectorctl; echo "${COMPREPLY[*]}"')
[ "$completed" = logo-off ] || fail "bash completion of \"press logo-o\" for the TR52 gave \"$completed\""
pass "/usr/bin/projectorctl sent to $device and exited with 1 for the missing reply; Qt Core only; its completion names the buttons"

# --- Remove ----------------------------------------------------------------------------

echo "install check: apt-get remove --purge $package"
if ! DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -qq -o DPkg::Lock::Timeout=120 \
        "$package" >"$work/remove.log" 2>&1; then
    cat "$work/remove.log" >&2
    fail "apt-get remove --purge"
fi
installed=0
status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
[ -z "$status" ] || [ "$status" = "unknown ok not-installed" ] || fail "$package is still known to dpkg: $status"
left=()
while read -r path; do
    if [ -e "$path" ] || [ -L "$path" ]; then left+=("$path"); fi
done <"$work/installed-files"
[ ${#left[@]} -eq 0 ] || fail "left behind after the purge: ${left[*]}"
[ ! -e /usr/share/doc/$package ] || fail "/usr/share/doc/$package is left behind"
[ ! -e /etc/systemd/system/multi-user.target.wants/projectord.service ] &&
    [ ! -L /etc/systemd/system/multi-user.target.wants/projectord.service ] ||
    fail "projectord.service is still enabled after the purge"
pass "apt-get remove --purge: none of the $(wc -l <"$work/installed-files") files remain"

echo "install-check: $passed passed, 0 failed"
