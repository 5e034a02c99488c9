#!/bin/sh
# Compresses the same 16 MiB file with the control (block size 9, in process) and with the
# bzip2 command (-9) and prints the control's throughput as a ratio of the command's.
#   bzip_benchmark.sh <ZvBZIP_benchmark.exe> <work folder>
set -eu
here=$(cd "$(dirname "$0")" && pwd)
exe=$1
work=$2
wine=${TV_WINE:-/usr/lib/wine/wine64}
rm -rf "$work"
mkdir -p "$work"
python3 "$here/make_sample_files.py" "$work" data.bin=16777216

start=$(date +%s.%N)
bzip2 -9 -c "$work/data.bin" > "$work/system.bz2"
end=$(date +%s.%N)
system_seconds=$(echo "$end - $start" | bc -l)

winpath() { printf 'Z:%s' "$(realpath -m "$1")" | sed 's|/|\\|g'; }
control_seconds=$(WINEDEBUG=${WINEDEBUG:--all} "$wine" "$exe" "$(winpath "$work/data.bin")" "$(winpath "$work/control.bz2")" | tr -d '\r')
bzip2 -dc "$work/control.bz2" | cmp - "$work/data.bin"

ratio=$(echo "$system_seconds / $control_seconds" | bc -l)
printf 'bzip2 -9: %.2f s; control: %.2f s\n' "$system_seconds" "$control_seconds"
# The figure line the test command's summary repeats.
printf 'benchmark bzip2 throughput (control/bzip2 -9): ratio %.2f (goal >= 0.9)\n' "$ratio"
