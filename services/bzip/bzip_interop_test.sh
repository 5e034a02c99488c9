#!/bin/sh
# Runs the control's tests under Wine, then checks its files against the system's bzip2 in both
# directions: bzip2 makes "*.bin.bz2" for the control to expand, and "bzip2 -d" expands every
# file the control compressed.
#   bzip_interop_test.sh <ZvBZIP_test.exe> <work folder>
set -eu
here=$(cd "$(dirname "$0")" && pwd)
exe=$1
work=$2
wine=${TV_WINE:-/usr/lib/wine/wine64}
rm -rf "$work"
mkdir -p "$work/shared"
python3 "$here/make_sample_files.py" "$work/shared" empty.bin=0 one.bin=1 text.bin=5000 mixed.bin=1500000
level=1
for f in "$work"/shared/*.bin; do
    bzip2 -k -"$level" "$f"
    level=$((level % 9 + 2))
done

winpath=$(printf 'Z:%s' "$(realpath "$work/shared")" | sed 's|/|\\|g')
cd "$work"
TV_BZIP_INTEROP_DIR=$winpath WINEDEBUG=${WINEDEBUG:--all} "$wine" "$exe"

count=0
for f in "$work"/shared/*.control-*.bz2; do
    original=${f%.control-*.bz2}
    bzip2 -dc "$f" | cmp - "$original" || { echo "bzip2 -d does not give back $original from $f" >&2; exit 1; }
    count=$((count + 1))
done
[ "$count" -eq 36 ] || { echo "expected 36 files compressed by the control, found $count" >&2; exit 1; }
echo "bzip2 -d expanded all $count files compressed by the control"
