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
# The Windows tests run in several prefixes made alike, handed out by ctest as the resource
# "prefix" (tools/test-prefix.sh): prefix 0 is build/wineprefix, prefix n build/wineprefix-n, each
# with its own wineserver, its own X display (Wine's desktops of two prefixes on one screen would
# cover each other's windows and take each other's focus) and its test USB driver on its own
# port. They are made side by side.
prefix=$root/build/wineprefix
prefix_count=${TV_WIN_PREFIXES:-2}
usbsim_port=${TV_USBSIM_PORT:-47350}
prefix_path() { if [ "$1" = 0 ]; then echo "$prefix"; else echo "$prefix-$1"; fi; }
xvfb_pids=()
stop_prefixes() {
    local n
    for n in $(seq 0 $((prefix_count - 1))); do
        WINEPREFIX=$(prefix_path "$n") "$TV_WINESERVER" -k >/dev/null 2>&1 || true
    done
    [ "${#xvfb_pids[@]}" -eq 0 ] || kill "${xvfb_pids[@]}" 2>/dev/null || true
}
trap stop_prefixes EXIT
make_prefix() { # <n> <display>
    local path
    path=$(prefix_path "$1")
    export DISPLAY=$2
    tv_wine_start "$path" fresh || return 1
    echo "$DISPLAY" >"$path/.tv-display"
    bash "$root/tools/install-prefix.sh" "$root/build/win" "$path" || return 1
    # The test USB driver: device tests reach the emulator through it.
    TVUSBSIM_BIN_DIR="$root/build/win/tests/bin" \
        bash "$root/tools/usbsim/install.sh" "$path" $((usbsim_port + 10 * $1)) >/dev/null || return 1
    # A window kept open for the whole run keeps Wine's desktop process alive between test
    # programs; otherwise a test program may restart it, the restarted process inherits ctest's
    # output pipe and ctest waits on it.
    tv_wine start /min notepad.exe >/dev/null 2>&1 </dev/null || true
}
displays=()
for n in $(seq 0 $((prefix_count - 1))); do
    # The first prefix takes the display given, if any; the others get an Xvfb each.
    [ "$n" = 0 ] || unset DISPLAY
    TV_XVFB_PID=
    tv_start_display 9>&- || exit 1
    displays+=("$DISPLAY")
    [ -z "$TV_XVFB_PID" ] || xvfb_pids+=("$TV_XVFB_PID")
done
makers=()
for n in $(seq 0 $((prefix_count - 1))); do
    ( make_prefix "$n" "${displays[$n]}" ) 9>&- &
    makers+=("$!")
done
for maker in "${makers[@]}"; do
    wait "$maker" || status=1
done
export WINEPREFIX=$prefix DISPLAY=${displays[0]}
# ctest's spec of those prefixes: as many as were made, with the slots of the build's own spec.
prefix_spec=$root/build/test-prefixes.json
python3 - "$root/build/win/test-prefixes.json" "$prefix_count" >"$prefix_spec" <<'PY'
import json, sys
spec = json.load(open(sys.argv[1]))
slots = spec["local"][0]["prefix"][0]["slots"]
spec["local"][0]["prefix"] = [{"id": str(n), "slots": slots} for n in range(int(sys.argv[2]))]
json.dump(spec, sys.stdout)
PY
export TV_REQUIRE_DEVICES=1
# A server missing from the install fails the tests that need it instead of skipping them.
export TV_REQUIRE_INSTALL=1

summary=$root/build/test-summary
rm -rf "$summary"; mkdir -p "$summary"

# The tests first, in parallel, without the benchmarks.
echo "== host tree =="
ctest --test-dir "$root/build/host" --output-on-failure -j "$(nproc)" -LE benchmark \
    --output-junit "$summary/host-tests.xml" || status=1
echo "== Windows tree (Wine) =="
win_started=$(date +%s)
ctest --test-dir "$root/build/win" --output-on-failure -j "${TV_WIN_JOBS:-6}" -LE benchmark \
    --resource-spec-file "$prefix_spec" \
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
