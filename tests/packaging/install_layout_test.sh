#!/usr/bin/env bash
# Installs the build into a fresh folder (prefix /usr) and checks what a
# person, a desktop, a service manager and a package builder meet there:
# every program a person runs in bin/ with its man page, the modules (the
# virtual ports' and, in a build with Qt, the qt display's) and the preload
# library under lib/<multiarch>/tavrel/ where the programs look, a
# valid menu entry whose program and icon are installed, valid AppStream
# metainfo, a systemd user unit that starts the installed launcher, the
# tmpfiles.d rule that tavrel-install --system writes, and nothing in etc/.
#
#   install_layout_test.sh BUILD_DIR [qt]
#
# "qt": the build has the qt display.
set -uo pipefail
build="$1"
with_qt="${2:-}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root="$work/root"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

DESTDIR="$root" cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 || {
  cat "$work/install.log"; echo "FAIL: cmake --install"; exit 1; }

programs=(tavrel tavrel-install tavrel-startup tavrel-status tavrel-config tavrel-compat)

# The programs, and only those a person runs.
for program in "${programs[@]}"; do
  [ -x "$root/usr/bin/$program" ] || fail "usr/bin/$program is not installed"
done
installed=$(ls "$root/usr/bin" | sort | tr '\n' ' ')
expected=$(printf '%s\n' "${programs[@]}" | sort | tr '\n' ' ')
[ "$installed" = "$expected" ] || fail "usr/bin holds '$installed', not '$expected'"

# The modules and the preload library in lib/<multiarch>/tavrel/.
libdir=$(find "$root/usr/lib" -mindepth 2 -maxdepth 2 -type d -name tavrel)
case "$libdir" in
  "$root"/usr/lib/*-linux-*/tavrel) ;;
  *) fail "no lib/<multiarch>/tavrel folder (found '$libdir')" ;;
esac
shipped=(quorvel.dll libtavrel-compat.so)
[ "$with_qt" != qt ] || shipped+=(display-qt.so)
for file in "${shipped[@]}"; do
  [ -f "$libdir/$file" ] || fail "$file is not in lib/<multiarch>/tavrel"
done
in_libdir=$(ls "$libdir" | sort | tr '\n' ' ')
shipped_list=$(printf '%s\n' "${shipped[@]}" | sort | tr '\n' ' ')
[ "$in_libdir" = "$shipped_list" ] || fail "lib/<multiarch>/tavrel holds '$in_libdir', not '$shipped_list'"
# The launcher finds its library from usr/bin: a program it runs succeeds.
"$root/usr/bin/tavrel-compat" true || fail "the installed tavrel-compat does not find its library (exit $?)"

# A man page for each program, each clean for groff.
for program in "${programs[@]}"; do
  page="$root/usr/share/man/man1/$program.1"
  if [ ! -f "$page" ]; then
    fail "no man page for $program"
    continue
  fi
  head -1 "$page" | grep -qi "^\.TH ${program} 1 " || fail "$program.1 is not titled $program(1)"
  warnings=$(groff -man -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || fail "$program.1: $warnings"
done
pages=$(ls "$root/usr/share/man/man1" | sed 's/\.1$//' | sort | tr '\n' ' ')
[ "$pages" = "$expected" ] || fail "man pages '$pages' are not those of the programs '$expected'"

# The menu entry: valid, starting the installed program, its icon in every size.
entry="$root/usr/share/applications/tavrel.desktop"
desktop-file-validate "$entry" || fail "tavrel.desktop is not valid"
exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
[ -x "$root/usr/bin/$exec_program" ] || fail "the menu entry runs '$exec_program', which is not installed"
grep -q '^Categories=..*' "$entry" || fail "the menu entry has no Categories"
grep -q '^Keywords=..*' "$entry" || fail "the menu entry has no Keywords"
icon=$(sed -n 's/^Icon=//p' "$entry")
for size in 16 22 24 32 48 64 128 256; do
  png="$root/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png"
  if [ ! -f "$png" ]; then
    fail "no ${size}x${size} icon '$icon'"
    continue
  fi
  # The PNG's own width and height (IHDR) must be the folder's size.
  dimensions=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$dimensions" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $dimensions"
done

# AppStream: valid, and launching the installed menu entry.
metainfo=$(ls "$root"/usr/share/metainfo/*.metainfo.xml 2>/dev/null)
if [ -z "$metainfo" ]; then
  fail "no AppStream metainfo"
else
  appstreamcli validate --no-net "$metainfo" >"$work/appstream.log" 2>&1 || {
    cat "$work/appstream.log"; fail "the metainfo is not valid"; }
  grep -q '<launchable type="desktop-id">tavrel.desktop</launchable>' "$metainfo" ||
    fail "the metainfo does not launch tavrel.desktop"
fi

# The user unit starts the installed launcher; systemd accepts it.
unit="$root/usr/lib/systemd/user/tavrel.service"
if [ ! -f "$unit" ]; then
  fail "no systemd user unit"
else
  grep -qx 'ExecStart=/usr/bin/tavrel-startup' "$unit" || fail "the unit does not start /usr/bin/tavrel-startup"
  sed "s|^ExecStart=/usr/bin/|ExecStart=$root/usr/bin/|" "$unit" >"$work/tavrel.service"
  mkdir -p "$work/runtime" && chmod 700 "$work/runtime"
  XDG_RUNTIME_DIR="$work/runtime" systemd-analyze --user --man=no verify "$work/tavrel.service" ||
    fail "systemd-analyze does not accept the unit"
fi

# The tmpfiles.d rule is the one that tavrel-install --system writes (it needs
# root: a user namespace gives it that without touching the machine).
tmpfiles="$root/usr/lib/tmpfiles.d/tavrel.conf"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(unshare --map-root-user)
mkdir -p "$work/system"
TAVREL_SYSTEM_ROOT="$work/system" "${as_root[@]}" "$root/usr/bin/tavrel-install" --system >"$work/system.log" 2>&1 || {
  cat "$work/system.log"; fail "tavrel-install --system could not run to compare its rule"; }
rules() { grep -v '^#' "$1" | grep -v '^$'; }
if [ ! -f "$tmpfiles" ]; then
  fail "no tmpfiles.d entry"
elif [ "$(rules "$tmpfiles")" != "$(rules "$work/system/etc/tmpfiles.d/tavrel.conf")" ]; then
  fail "the tmpfiles.d rule '$(rules "$tmpfiles")' is not tavrel-install's"
fi

# Nothing in etc/: no autostart for every user, no configuration to keep.
[ ! -e "$root/etc" ] || fail "the install writes into etc/: $(find "$root/etc" -type f)"

[ "$failures" -eq 0 ] && echo "install layout: all checks passed"
exit $((failures > 0))
