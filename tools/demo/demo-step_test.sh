#!/usr/bin/env bash
# The run command's judgement of its demo steps: a step that exits non-zero or prints a failure
# fails; a step that prints only its results passes, and its output is shown.
set -uo pipefail
. "$(dirname "$0")/demo-step.sh"
failures=0
expect() { # <expected status> <label> <command...>
    local expected=$1 label=$2 status=0
    shift 2
    tv_demo_step "$@" >/dev/null 2>&1 || status=$?
    if [ "$status" -ne "$expected" ]; then
        echo "FAIL: $label: status $status, expected $expected"
        failures=$((failures + 1))
    else
        echo "ok  : $label"
    fi
}
expect 0 "a clean step passes" printf 'Devices: 2\r\ndevices demo: done\r\n'
expect 1 "a step that prints FAILED fails" printf 'Devices: 1\r\ndevices demo: FAILED\r\n'
expect 1 "a missing value fails" printf 'MISSING Image\n'
expect 1 "a step that exits non-zero fails" sh -c 'echo "demo: done"; exit 2'
expect 1 "an uncaught script error fails" printf 'hub_demo.js(24, 5) Microsoft JScript runtime error: Object expected\n'
expect 1 "a step that prints nothing fails" true
shown=$(tv_demo_step printf 'Devices: 2\r\n' 2>/dev/null)
if [ "$shown" = "Devices: 2" ]; then
    echo "ok  : the step's output is shown without carriage returns"
else
    echo "FAIL: the step's output is shown without carriage returns: '$shown'"
    failures=$((failures + 1))
fi
exit $((failures > 0))
