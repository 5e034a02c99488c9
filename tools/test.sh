#!/usr/bin/env bash
# The test command: installs what the build needs, builds both trees, makes a fresh Wine prefix
# with every server registered, and runs every test of both trees. Exits non-zero on any failure.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
started=$(date +%s)
status=0

bash "$root/tools/setup-deps.sh" || exit 1
bash "$root/tools/build.sh" || exit 1

. "$root/tools/wine-env.sh"
trap tv_wine_stop EXIT
prefix=$root/build/wineprefix
tv_wine_start "$prefix" fresh || exit 1
bash "$root/tools/install-prefix.sh" "$root/build/win" "$prefix" || status=1
# The test USB driver: device tests reach the emulator through it.
TVUSBSIM_BIN_DIR="$root/build/win/tests/bin" bash "$root/tools/usbsim/install.sh" "$prefix" "${TV_USBSIM_PORT:-47350}" >/dev/null || status=1
export TV_REQUIRE_DEVICES=1
# A server missing from the install fails the tests that need it instead of skipping them.
export TV_REQUIRE_INSTALL=1

# A window kept open for the whole run keeps Wine's desktop process alive between test
# programs; otherwise a test program may restart it, the restarted process inherits ctest's
# output pipe and ctest waits on it.
tv_wine start /min notepad.exe >/dev/null 2>&1 </dev/null || true

echo "== host tree =="
ctest --test-dir "$root/build/host" --output-on-failure -j "$(nproc)" || status=1
echo "== Windows tree (Wine) =="
win_started=$(date +%s)
ctest --test-dir "$root/build/win" --output-on-failure -j 4 || status=1
win_elapsed=$(( $(date +%s) - win_started ))

# Every benchmark's figure line (a ratio and its goal), from the logs of both runs.
figures=$(grep -hE '^[^[].*ratio.*goal' "$root/build/host/Testing/Temporary/LastTest.log" \
              "$root/build/win/Testing/Temporary/LastTest.log" 2>/dev/null | tr -d '\r' || true)
if [ -n "$figures" ]; then
    echo "== benchmarks =="
    printf '%s\n' "$figures"
fi

elapsed=$(( $(date +%s) - started ))
printf 'Windows tests: %dm%02ds\n' $((win_elapsed / 60)) $((win_elapsed % 60))
printf 'wall time: %dm%02ds\n' $((elapsed / 60)) $((elapsed % 60))
exit $status
