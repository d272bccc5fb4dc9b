#!/bin/sh
# The Windows leg: unit tests and black-box tests of the Windows build under
# Wine. Runs inside a private network namespace (tests/netns-run.sh): Wine's
# sockets belong to its wineserver, so the server must start in here too.
# Usage: test-wine-leg.sh WINDOWS_BUILD_DIR NATIVE_BUILD_DIR
set -u
win=$(cd "$1" && pwd)
native=$(cd "$2" && pwd)
export WINEPREFIX="$win/wineprefix" WINEDEBUG=-all
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver=wineserver
# A server left from another namespace would own our sockets.
"$wineserver" -k 2>/dev/null
status=0
ctest --test-dir "$win" --output-on-failure || status=1
# One server for the whole run: a server ending between two quick programs
# can leave the next one unable to start.
"$wineserver" -p
# What Wine says on standard error, kept apart from the programs' output.
export VN_WINE_STDERR="$win/wine-stderr.log"
rm -f "$VN_WINE_STDERR"
if ! "$native/bin/vn_blackbox" --wine --bin-dir="$win/bin"; then
  status=1
  [ -s "$VN_WINE_STDERR" ] && { echo "Wine's standard error:"; tail -n 40 "$VN_WINE_STDERR"; }
fi
sh "$(dirname "$0")/../tests/same-packages.sh" "$native/bin" "$win/bin" || status=1
"$wineserver" -k 2>/dev/null
exit $status
