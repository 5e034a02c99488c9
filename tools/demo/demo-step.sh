# Sourced by tools/run.sh: runs one step of the demo and judges it.
#   tv_demo_step <command...>
# The step's output is shown (carriage returns dropped). The step fails, returning 1, when the
# command exits non-zero, prints nothing (Wine's script host ends a script at an error it does not
# catch without a word, and with 0), or prints a failure line: a line holding "FAIL" (FAIL,
# FAILED) or "MISSING", or a script host's report of an uncaught error.
tv_demo_step() {
    local log status=0
    log=$(mktemp)
    "$@" >"$log" 2>&1 || status=$?
    tr -d '\r' <"$log"
    if [ ! -s "$log" ] || grep -qE 'FAIL|MISSING|runtime error|[Ee]rror: ' "$log"; then
        status=1
    fi
    rm -f "$log"
    [ "$status" -eq 0 ] || { echo "demo step failed: $*" >&2; return 1; }
}
