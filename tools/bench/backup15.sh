#!/usr/bin/env bash
# Benchmark (not a test): the device backuper's backup and restore of an emulated 1.5 device that
# holds 16 MiB in 200 files, against an export of the same files through the hub in the same run
# (the disabled case of backup_device15_test.exe). One line per figure, each a ratio with its goal.
# It takes tens of minutes: every file costs the port object's fixed pauses (400 ms before each
# console command's flush and after each transfer's start command: two per exported file, six per
# imported one), a progress call into the caller's process per 256 bytes and one acknowledged
# 512-byte frame per round trip through the test USB driver.
#   TV_USBSIM_PORT=<port> tools/bench/backup15.sh [windows build folder (build/win)] [prefix (build/bench-prefix)]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath "${1:-$root/build/win}")
prefix=$(realpath -m "${2:-$root/build/bench-prefix}")
. "$root/tools/wine-env.sh"
tv_wine_start "$prefix"
trap tv_wine_stop EXIT
bash "$root/tools/install-prefix.sh" "$build" "$prefix" >/dev/null
TVUSBSIM_BIN_DIR="$build/tests/bin" bash "$root/tools/usbsim/install.sh" "$prefix" "${TV_USBSIM_PORT:-47350}" >/dev/null
export TV_REQUIRE_DEVICES=1
tv_wine start /min notepad.exe >/dev/null 2>&1 </dev/null || true
tv_wine "$(tv_winpath "$build/tests/bin/backup_device15_test.exe")" --gtest_also_run_disabled_tests \
    --gtest_filter='*Benchmark*' </dev/null 2>/dev/null | tr -d '\r' | grep -E 'ratio|^backup .* ms|FAILED' || true
