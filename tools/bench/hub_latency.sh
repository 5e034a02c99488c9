#!/usr/bin/env bash
# Benchmark (not a test): time from the program's start to its tray icon, and the latency of
# 1000 cross-process calls of a cheap hub query from a C++ client and from a JScript client
# under cscript. The program runs in a Wine prefix with two folder-backed test devices.
#   tools/bench/hub_latency.sh [windows build folder (build/win)] [prefix (build/bench-prefix)]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath "${1:-$root/build/win}")
prefix=$(realpath -m "${2:-$root/build/bench-prefix}")
. "$root/tools/wine-env.sh"
tv_wine_start "$prefix"
trap tv_wine_stop EXIT
bash "$root/tools/install-prefix.sh" "$build" "$prefix" >/dev/null

devices=$root/build/bench-devices
mkdir -p "$devices/DevA" "$devices/DevB"
tv_wine reg add 'HKCU\Software\Zelvan\Tavrilon\TestDevice' /v Root /d "$(tv_winpath "$devices")" /f >/dev/null </dev/null
tv_wine reg add 'HKCU\Software\Zelvan\Tavrilon' /v TvOptions /t REG_DWORD /d 3 /f >/dev/null </dev/null

step="$(tv_winpath "$build/tests/bin/tvbench_program.exe")"
# The first start also warms Wine's caches; the second is the one reported.
tv_wine "$step" start </dev/null >/dev/null
tv_wine "$step" stop </dev/null
tv_wine "$step" start </dev/null
tv_wine "$step" calls </dev/null
tv_wine cscript //nologo "$(tv_winpath "$root/tools/bench/hub_latency.js")" </dev/null
tv_wine "$step" stop </dev/null
