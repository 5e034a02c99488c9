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
# The program asks for rsync's rounds between its sessions' ("rsync round" on its output) and reads
# the seconds on its input: rsync's dry run between the same two folders the sessions compare.
mkfifo "$work/to-bench" "$work/from-bench"
tv_wine "$(tv_winpath "$build/tests/bin/filesync_bench.exe")" "$(tv_winpath "$work/run")" \
    <"$work/to-bench" >"$work/from-bench" 2>/dev/null &
bench=$!
exec 3>"$work/to-bench" 4<"$work/from-bench"
output=
while IFS= read -r line <&4; do
    line=${line%$'\r'}
    if [ "$line" = "rsync round" ]; then
        begin=$(date +%s.%N)
        rsync -a --dry-run "$work/run/devices/B15/Main/" "$work/run/pc/Main/"
        end=$(date +%s.%N)
        awk -v b="$begin" -v e="$end" 'BEGIN { printf "%.6f\n", e - b }' >&3
    else
        output+=$line$'\n'
    fi
done
exec 3>&- 4<&-
status=0
wait "$bench" || status=$?
printf '%s' "$output" | grep -v -e '^no-change session over' -e '^rsync dry run:' -e '^device listing:' -e '^new synchronizer:' -e '^round ratios:' || true
value() { printf '%s' "$output" | sed -n "s/$1/\1/p"; }
session=$(value '^no-change session over 10000 files: \([0-9.]*\) s$')
cold=$(value '^no-change session over 10000 files, new synchronizer: \([0-9.]*\) s$')
rsync_median=$(value '^rsync dry run: \([0-9.]*\) s$')
calls=$(value '^new synchronizer: \([0-9.]*\) registry calls per stored item.*$')
listing=$(value '^device listing: \([0-9.]*\) s, PC scan: .*$')
scan=$(value '^device listing: .*, PC scan: \([0-9.]*\) s$')
reading=$(value '^new synchronizer: .*reading the stored items \([0-9.]*\) s$')
spread=$(value '^round ratios: previous min \([0-9.]* max [0-9.]*, new min [0-9.]* max [0-9.]*\)$')
if [ -z "$session" ] || [ -z "$cold" ] || [ -z "$rsync_median" ] || [ -z "$calls" ] || [ -z "$reading" ] || [ -z "$spread" ] ||
    [ -z "$listing" ] || [ -z "$scan" ]; then
    echo "no-change session: no figure"
    exit 1
fi
awk -v spread="$spread" -v s="$session" -v c="$cold" -v r="$rsync_median" -v calls="$calls" -v reading="$reading" -v listing="$listing" -v scan="$scan" 'BEGIN {
    # spread: "<previous min> max <previous max>, new min <new min> max <new max>"
    split(spread, f, /( max |, new min )/);
    ratio = s / r;
    printf "no-change session over 10000 files, the synchronizer of the previous session / rsync -a --dry-run: session %.3f s, rsync %.3f s, the hub'"'"'s device listing %.3f s (%.0f %% of the session) and the PC folder'"'"'s scan %.3f s (%.0f %%), median of 5 rounds, ratio %.2f (min %.2f, max %.2f, goal <= 2) %s\n",
           s, r, listing, 100 * listing / s, scan, 100 * scan / s, ratio, f[1], f[2], ratio <= 2 ? "met" : "missed";
    ratio = c / r;
    printf "no-change session over 10000 files, a new synchronizer (stored state read from the registry) / rsync -a --dry-run: session %.3f s, rsync %.3f s, %.1f registry calls per stored item, reading the stored items %.3f s (%.0f %% of the session), median of 5 rounds, ratio %.2f (min %.2f, max %.2f, goal <= 8) %s\n",
           c, r, calls, reading, 100 * reading / c, ratio, f[3], f[4], ratio <= 8 ? "met" : "missed";
}'
exit "$status"
