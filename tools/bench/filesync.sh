#!/usr/bin/env bash
# Benchmark: the file synchronizer in one run of filesync_bench.exe in a Wine prefix against a
# test device served in the program: a session that finds nothing to do over 10 000 files against
# rsync's dry run over the same two folders, 100 x 1 MiB and 200 x 1 KiB new files against the
# hub's own copies. One line per figure, each a ratio with its goal; timing never fails it.
#   tools/bench/filesync.sh [windows build folder (build/win)] [prefix (build/bench-prefix)]
#       makes (or reuses) the prefix, installs the build in it and stops Wine afterwards;
#   tools/bench/filesync.sh --in-prefix <windows build folder>
#       runs in the prefix of the environment's WINEPREFIX, already installed (the test entry).
set -euo pipefail
if ! command -v rsync >/dev/null 2>&1; then
    echo "filesync benchmark: rsync is not installed (it is the reference of the no-change figure)" >&2
    exit 1
fi
root=$(cd "$(dirname "$0")/../.." && pwd)
in_prefix=
if [ "${1:-}" = --in-prefix ]; then
    in_prefix=1
    shift
fi
build=$(realpath "${1:-$root/build/win}")
work=$(mktemp -d /tmp/tvfilesync-bench.XXXXXX)
. "$root/tools/wine-env.sh"
if [ -n "$in_prefix" ]; then
    trap 'rm -rf "$work"' EXIT
else
    prefix=$(realpath -m "${2:-$root/build/bench-prefix}")
    tv_wine_start "$prefix"
    trap 'tv_wine_stop; rm -rf "$work"' EXIT
    bash "$root/tools/install-prefix.sh" "$build" "$prefix" >/dev/null
fi
output=$(tv_wine "$(tv_winpath "$build/tests/bin/filesync_bench.exe")" "$(tv_winpath "$work/run")" </dev/null 2>/dev/null | tr -d "\r")
printf '%s\n' "$output" | grep -v '^no-change session over'
session=$(printf '%s\n' "$output" | sed -n 's/^no-change session over 10000 files: \([0-9.]*\) s$/\1/p')
cold=$(printf '%s\n' "$output" | sed -n 's/^no-change session over 10000 files, new synchronizer: \([0-9.]*\) s$/\1/p')
if [ -z "$session" ] || [ -z "$cold" ]; then
    echo "no-change session: no figure"
    exit 1
fi
# rsync's dry run between the same two folders (the program moved them aside after its sessions),
# the median of three runs as the sessions' figures are.
rsync_times=()
for _ in 1 2 3; do
    begin=$(date +%s.%N)
    rsync -a --dry-run "$work/run/device_tree/" "$work/run/pc_tree/Main/"
    end=$(date +%s.%N)
    rsync_times+=("$(awk -v b="$begin" -v e="$end" 'BEGIN { printf "%.6f", e - b }')")
done
rsync_median=$(printf '%s\n' "${rsync_times[@]}" | sort -g | sed -n 2p)
awk -v s="$session" -v c="$cold" -v r="$rsync_median" 'BEGIN {
    n = split("the synchronizer of the previous session|a new synchronizer (stored state read from the registry)", what, "|");
    split(s " " c, time, " ");
    for (i = 1; i <= n; ++i) {
        ratio = time[i] / r;
        printf "no-change session over 10000 files, %s / rsync -a --dry-run: session %.3f s, rsync %.3f s, ratio %.2f (goal <= 2) %s\n",
               what[i], time[i], r, ratio, ratio <= 2 ? "met" : "missed";
    }
}'
