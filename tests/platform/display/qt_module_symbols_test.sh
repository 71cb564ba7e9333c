#!/usr/bin/env bash
# The qt display's module and the program that loads it, as the dynamic
# linker sees them: the module exports its one entry; it holds no variable of
# the platform's (a second window table, display or registry would go unseen
# by the program) but takes every platform call from the program, which
# exports each one of them; and the program itself needs no Qt library.
#
#   qt_module_symbols_test.sh MODULE PROGRAM
set -uo pipefail
module="$1"
program="$2"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

exports=$(nm -D --defined-only "$module" | awk '{print $3}')
[ "$exports" = platform_open_qt_session ] || fail "the module exports '$exports', not only platform_open_qt_session"

# Variables and static locals (their guards count) of the platform outside
# the display's own namespace; type information and virtual tables are no state.
copies=$(nm -C --defined-only "$module" | awk '$2 ~ /^[bBdDgGsSuvV]$/' | cut -d' ' -f3- |
         sed -E 's/^guard variable for //' | grep '^platform::' | grep -v '^platform::qt::')
[ -z "$copies" ] || fail "the module holds the platform's own state: $copies"

needed=$(nm -D --undefined-only "$module" | awk '{print $2}' | c++filt | grep '^platform::' | sort -u)
[ -n "$needed" ] || fail "the module takes no platform call from the program: does it carry a platform of its own?"
offered=$(nm -D --defined-only "$program" | awk '{print $3}' | c++filt | sort -u)
missing=$(comm -23 <(echo "$needed") <(echo "$offered"))
[ -z "$missing" ] || fail "the program does not export what the module calls: $missing"

qt=$(readelf -d "$program" | grep NEEDED | grep -i -e qt -e libX -e libxcb)
[ -z "$qt" ] || fail "the program needs $qt"

[ "$failures" -eq 0 ] && echo "qt module symbols: $(echo "$needed" | wc -l) platform calls, all from the program"
exit $((failures > 0))
