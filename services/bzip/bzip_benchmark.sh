#!/bin/sh
# Compresses the same 16 MiB file with the control (block size 9, in process) and with the
# bzip2 command (-9) and prints the control's throughput as a ratio of the command's. The two
# take turns for some rounds, so that a change in the machine's load falls on both, and each
# side's time is its median round.
#   bzip_benchmark.sh <ZvBZIP_benchmark.exe> <work folder>
set -eu
here=$(cd "$(dirname "$0")" && pwd)
exe=$1
work=$2
wine=${TV_WINE:-/usr/lib/wine/wine64}
rounds=5
rm -rf "$work"
mkdir -p "$work"
python3 "$here/make_sample_files.py" "$work" data.bin=16777216

winpath() { printf 'Z:%s' "$(realpath -m "$1")" | sed 's|/|\\|g'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

system_times=
control_times=
round=0
while [ "$round" -lt "$rounds" ]; do
    round=$((round + 1))
    start=$(date +%s.%N)
    bzip2 -9 -c "$work/data.bin" > "$work/system.bz2"
    end=$(date +%s.%N)
    system_times="$system_times $(printf '%.3f' "$(echo "$end - $start" | bc -l)")"
    rm -f "$work/control.bz2"
    control_times="$control_times $(WINEDEBUG=${WINEDEBUG:--all} "$wine" "$exe" "$(winpath "$work/data.bin")" "$(winpath "$work/control.bz2")" | tr -d '\r')"
    bzip2 -dc "$work/control.bz2" | cmp - "$work/data.bin"
done
# The lists split into their times.
system_seconds=$(median $system_times)
control_seconds=$(median $control_times)

ratio=$(echo "$system_seconds / $control_seconds" | bc -l)
printf 'bzip2 -9: %.2f s; control: %.2f s (median of %d rounds; bzip2 -9:%s; control:%s)\n' \
    "$system_seconds" "$control_seconds" "$rounds" "$system_times" "$control_times"
# The figure line the test command's summary repeats.
printf 'benchmark bzip2 throughput (control/bzip2 -9, median of %d rounds): ratio %.2f (goal >= 0.9)\n' "$rounds" "$ratio"
