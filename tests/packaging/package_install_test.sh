#!/usr/bin/env bash
# Installs the packages as a person would (apt-get install ./tavrel_….deb) and
# uses them from /usr/bin with a fresh HOME and no device. First tavrel alone,
# as on a server (no recommended packages): it depends on no Qt library; the
# first `tavrel` sets up the device by itself; tavrel-config chooses a
# pseudo-terminal as the input and two outputs; `tavrel`, headless, relays the
# stream to both ports; tavrel-status sees it; SIGTERM ends it; asked for the
# window, it says that the display's module is not there. Then tavrel-qt: the
# installed tavrel loads the installed module and shows its window (on Qt's
# offscreen platform). Then both are removed and purged, nothing of them is
# left under /usr, and the person's device (settings included) is still there.
#
#   package_install_test.sh TAVREL.deb TAVREL-QT.deb
#
# Needs root (or sudo) for apt-get. Exits non-zero on the first failure, with
# what Tavrel wrote on stderr.
set -euo pipefail

deb=$(realpath "$1")
qt_deb=$(realpath "$2")
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive

for package in tavrel tavrel-qt; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    echo "SKIPPED: the package $package is installed on this machine already; this test installs and removes it"
    exit 0
  fi
done

work=$(mktemp -d)
feeder=""
tavrel=""
cleanup() {
  [ -z "$tavrel" ] || kill "$tavrel" 2>/dev/null || true
  [ -z "$feeder" ] || kill "$feeder" 2>/dev/null || true
  "${as_root[@]}" apt-get purge -y -q tavrel-qt tavrel >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  for log in "$work"/*.err; do
    [ -s "$log" ] && { echo "--- $(basename "$log")"; cat "$log"; }
  done
  exit 1
}
# Waits up to 30 s for a command to succeed.
wait_for() {
  for _ in $(seq 300); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

echo "=== tavrel depends on no Qt or X library"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
if grep -qi -e 'qt' -e 'libx' <<<"$depends"; then
  fail "tavrel depends on Qt or X: $depends"
fi
grep -q 'tavrel-qt' <<<"$(dpkg-deb -f "$deb" Recommends)" || fail "tavrel does not recommend tavrel-qt"

echo "=== apt-get install --no-install-recommends $(basename "$deb")"
"${as_root[@]}" apt-get install -y -q --no-install-recommends "$deb" >"$work/apt-install.log" 2>&1 ||
  { cat "$work/apt-install.log"; fail "apt-get install"; }
for file in /usr/bin/tavrel /usr/bin/tavrel-install /usr/bin/tavrel-startup /usr/bin/tavrel-status \
            /usr/bin/tavrel-config /usr/bin/tavrel-compat \
            /usr/lib/systemd/user/tavrel.service /usr/share/man/man1/tavrel.1.gz; do
  [ -e "$file" ] || fail "$file is not installed"
done
dpkg -L tavrel | grep -q '/usr/lib/.*/tavrel/quorvel.dll' || fail "the virtual port module is not in the package"
! dpkg -L tavrel | grep -q -e display-qt -e '\.desktop$' || fail "tavrel holds the window's files: $(dpkg -L tavrel | grep -e display-qt -e '\.desktop$')"

# A person with a fresh home, no device, no desktop.
home="$work/home"
mkdir -p "$home"
person=(env -i "PATH=/usr/bin:/bin" "HOME=$home" "USER=$(id -un)" "TAVREL_DISPLAY=headless")
device="$home/.local/share/tavrel"

echo "=== the first tavrel sets up its device"
"${person[@]}" /usr/bin/tavrel >"$work/first.out" 2>"$work/first.err" &
tavrel=$!
wait_for "${person[@]}" tavrel-status || fail "the first tavrel does not answer tavrel-status"
[ -f "$device/fs/Program Files/Tavrel/quorvel.dll" ] || fail "the first start did not install the module into $device"
kill -TERM "$tavrel"
wait "$tavrel" || true
tavrel=""

echo "=== tavrel-config chooses a pseudo-terminal and two outputs"
# A receiver on a pseudo-terminal: NMEA ten times a second.
python3 -c '
import os, sys, time, tty
master, slave = os.openpty()
tty.setraw(slave)
print(os.ttyname(slave), flush=True)
os.set_blocking(master, False)
while True:
    try:
        os.write(master, b"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n")
    except BlockingIOError:
        pass
    time.sleep(0.1)
' >"$work/feeder.out" 2>"$work/feeder.err" &
feeder=$!
wait_for test -s "$work/feeder.out" || fail "no pseudo-terminal for the input"
input=$(head -n1 "$work/feeder.out")
for setting in "input $input" "baud 4800" "outputs COM2,COM3" "autostart on"; do
  # shellcheck disable=SC2086  # a setting is a name and a value
  "${person[@]}" tavrel-config $setting >>"$work/config.out" 2>>"$work/config.err" || fail "tavrel-config $setting"
done

echo "=== tavrel relays it headless to COM2 and COM3"
"${person[@]}" /usr/bin/tavrel >"$work/relay.out" 2>"$work/relay.err" &
tavrel=$!
# Its status answers as soon as its window is up, and shows the outputs once
# the autostart has started the relay.
relaying() {
  "${person[@]}" tavrel-status --json >"$work/status.json" 2>"$work/status.err" &&
    grep -q '"relaying":true' "$work/status.json"
}
wait_for relaying || { cat "$work/status.json"; fail "the tavrel started with autostart does not relay"; }
for port in 2 3; do
  link=$(python3 -c '
import json, sys
status = json.load(open(sys.argv[1]))
print(next(o["path"] for o in status["outputs"] if o["port"] == int(sys.argv[2]) and o["path"]))
' "$work/status.json" "$port") || { cat "$work/status.json"; fail "tavrel-status does not show COM$port with its path"; }
  timeout 30 python3 -c '
import sys
with open(sys.argv[1], "rb", buffering=0) as port:
    seen = b""
    while b"$GPGGA" not in seen:
        seen += port.read(100)
' "$link" || fail "no NMEA on COM$port ($link)"
  echo "COM$port ($link): NMEA read"
done
"${person[@]}" tavrel-status | tee "$work/status.txt"
grep -q COM2 "$work/status.txt" && grep -q COM3 "$work/status.txt" || fail "tavrel-status does not list both outputs"
kill -TERM "$tavrel"
wait "$tavrel" || true
tavrel=""

echo "=== without tavrel-qt, the window is refused with the reason"
status=0
"${person[@]}" TAVREL_DISPLAY=qt QT_QPA_PLATFORM=offscreen /usr/bin/tavrel >"$work/refused.out" 2>"$work/refused.err" ||
  status=$?
[ "$status" -eq 1 ] || fail "tavrel on the qt display without its module exits $status"
grep -q "TAVREL_DISPLAY=qt, but the qt display's module display-qt.so is neither beside /usr/bin" "$work/refused.err" ||
  fail "tavrel does not say that the display's module is missing"
cat "$work/refused.err"

echo "=== apt-get install $(basename "$qt_deb"): the installed tavrel opens its window"
"${as_root[@]}" apt-get install -y -q "$qt_deb" >"$work/apt-install-qt.log" 2>&1 ||
  { cat "$work/apt-install-qt.log"; fail "apt-get install tavrel-qt"; }
for file in /usr/share/applications/tavrel.desktop /usr/share/icons/hicolor/48x48/apps/tavrel.png; do
  [ -e "$file" ] || fail "$file is not installed"
done
module=$(dpkg -L tavrel-qt | grep '/usr/lib/.*/tavrel/display-qt.so$') || fail "the display's module is not in tavrel-qt"
"${person[@]}" TAVREL_DISPLAY=qt QT_QPA_PLATFORM=offscreen /usr/bin/tavrel >"$work/window.out" 2>"$work/window.err" &
tavrel=$!
wait_for "${person[@]}" tavrel-status || fail "tavrel on the qt display does not answer tavrel-status"
grep -q "$module" "/proc/$tavrel/maps" || fail "tavrel on the qt display has not loaded $module"
grep -q 'libQt6Widgets' "/proc/$tavrel/maps" || fail "tavrel on the qt display has not loaded Qt"
echo "tavrel on the qt display loaded $module"
kill -TERM "$tavrel"
wait "$tavrel" || true
tavrel=""

echo "=== remove and purge: the device stays"
"${as_root[@]}" apt-get remove -y -q tavrel-qt tavrel >"$work/apt-remove.log" 2>&1 ||
  { cat "$work/apt-remove.log"; fail "apt-get remove"; }
[ ! -e /usr/bin/tavrel ] || fail "/usr/bin/tavrel is left after remove"
"${as_root[@]}" apt-get purge -y -q tavrel-qt tavrel >"$work/apt-purge.log" 2>&1 ||
  { cat "$work/apt-purge.log"; fail "apt-get purge"; }
left=$(find /usr -path '*tavrel*' 2>/dev/null | head -n 5)
[ -z "$left" ] || fail "left after purge: $left"
[ -f "$device/registry/user.reg" ] || fail "the person's settings went with the package"
grep -q 'Split' "$device/registry/user.reg" || fail "the person's outputs are no longer in $device/registry/user.reg"
echo "package_install_test: all passed"
