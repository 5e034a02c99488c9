#!/usr/bin/env bash
# The test command: installs what the build needs, builds both trees, makes a fresh Wine prefix
# with every server registered, runs every test of both trees (in parallel), then the benchmarks
# (ctest label "benchmark") one at a time. Exits non-zero on any test failure; the benchmarks'
# figures are judged in the summary and never fail the command.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
started=$(date +%s)
status=0

# One run at a time per tree: a second run would make the Wine prefix afresh under the first and
# the two would share its devices and servers. The lock is the build folder's; it goes with the
# process, whatever ends it (the Wine processes that outlive a command do not inherit it).
mkdir -p "$root/build"
exec 9>"$root/build/.test-command.lock"
if ! flock -n 9; then
    echo "tools/test.sh: another run of the test command is using $root/build; wait for it to end" >&2
    echo "(or run the tests of another checkout)" >&2
    exit 1
fi

bash "$root/tools/setup-deps.sh" || exit 1
bash "$root/tools/build.sh" || exit 1

. "$root/tools/wine-env.sh"
trap tv_wine_stop EXIT
prefix=$root/build/wineprefix
tv_wine_start "$prefix" fresh 9>&- || exit 1
bash "$root/tools/install-prefix.sh" "$root/build/win" "$prefix" || status=1
# The test USB driver: device tests reach the emulator through it.
TVUSBSIM_BIN_DIR="$root/build/win/tests/bin" bash "$root/tools/usbsim/install.sh" "$prefix" "${TV_USBSIM_PORT:-47350}" >/dev/null || status=1
export TV_REQUIRE_DEVICES=1
# A server missing from the install fails the tests that need it instead of skipping them.
export TV_REQUIRE_INSTALL=1

# A window kept open for the whole run keeps Wine's desktop process alive between test
# programs; otherwise a test program may restart it, the restarted process inherits ctest's
# output pipe and ctest waits on it.
tv_wine start /min notepad.exe >/dev/null 2>&1 </dev/null 9>&- || true

summary=$root/build/test-summary
rm -rf "$summary"; mkdir -p "$summary"

# The tests first, in parallel, without the benchmarks.
echo "== host tree =="
ctest --test-dir "$root/build/host" --output-on-failure -j "$(nproc)" -LE benchmark \
    --output-junit "$summary/host-tests.xml" || status=1
echo "== Windows tree (Wine) =="
win_started=$(date +%s)
ctest --test-dir "$root/build/win" --output-on-failure -j "${TV_WIN_JOBS:-4}" -LE benchmark \
    --output-junit "$summary/win-tests.xml" || status=1
win_elapsed=$(( $(date +%s) - win_started ))

# Then the benchmarks, one at a time with nothing else running, so that their figures compare
# between runs. They stay out of the result: a benchmark that fails or crashes is reported only.
echo "== benchmarks (one at a time; not part of the result) =="
bench_started=$(date +%s)
for tree in host win; do
    ctest --test-dir "$root/build/$tree" --output-on-failure -j 1 -L benchmark \
        --output-junit "$summary/$tree-benchmarks.xml" >"$summary/$tree-benchmarks.out" 2>&1 || true
    cp "$root/build/$tree/Testing/Temporary/LastTest.log" "$summary/$tree-benchmarks.log" 2>/dev/null || true
done
bench_elapsed=$(( $(date +%s) - bench_started ))

echo "== the 15 slowest test entries =="
python3 "$root/tools/test-summary.py" slowest 15 "$summary/host-tests.xml" "$summary/win-tests.xml"
echo "== benchmark figures (ratio, goal, met/missed; ? = no goal to judge) =="
python3 "$root/tools/test-summary.py" figures "$summary/host-benchmarks.log" "$summary/win-benchmarks.log"
broken=$(python3 "$root/tools/test-summary.py" failed "$summary/host-benchmarks.xml" "$summary/win-benchmarks.xml")
if [ -n "$broken" ]; then
    echo "benchmarks that failed or crashed (not counted; output in $summary/*-benchmarks.out):"
    printf '  %s\n' $broken
fi

elapsed=$(( $(date +%s) - started ))
printf 'Windows tests: %dm%02ds\n' $((win_elapsed / 60)) $((win_elapsed % 60))
printf 'benchmarks: %dm%02ds\n' $((bench_elapsed / 60)) $((bench_elapsed % 60))
printf 'wall time: %dm%02ds\n' $((elapsed / 60)) $((elapsed % 60))
exit $status
