#!/usr/bin/env bash
# Benchmark (not a test): the Explorer folder's listing of 5000 items and its upload and
# download of 50 x 1 MiB against the hub's own calls on the same test device, in one run of
# shellns_bench.exe in a Wine prefix. One line per figure, each a ratio with its goal.
#   tools/bench/shellns_folder.sh [windows build folder (build/win)] [prefix (build/bench-prefix)]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath "${1:-$root/build/win}")
prefix=$(realpath -m "${2:-$root/build/bench-prefix}")
. "$root/tools/wine-env.sh"
tv_wine_start "$prefix"
trap tv_wine_stop EXIT
bash "$root/tools/install-prefix.sh" "$build" "$prefix" >/dev/null
tv_wine "$(tv_winpath "$build/tests/bin/shellns_bench.exe")" </dev/null 2>/dev/null
