#!/usr/bin/env bash
# Configures and builds both trees: build/host (native clang, sanitizers) and build/win (mingw-w64).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
cmake -S "$root" -B "$root/build/host" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTV_SUBDIRS= >/dev/null
cmake -S "$root" -B "$root/build/win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DTV_SUBDIRS= >/dev/null
ninja -C "$root/build/win" -j "$jobs"
ninja -C "$root/build/host" -j "$jobs"
