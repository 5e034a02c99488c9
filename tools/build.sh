#!/usr/bin/env bash
# Configures and builds both trees: build/host (native clang, sanitizers) and build/win (mingw-w64).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
# A compiler cache makes rebuilds in fresh clones and parallel work trees cheap. Paths are
# rewritten relative to the tree so that clones in other folders share the cache.
launcher=()
if command -v ccache >/dev/null 2>&1; then
    export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-8G}
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$root/build/host" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTV_SUBDIRS= "${launcher[@]}" >/dev/null
cmake -S "$root" -B "$root/build/win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DTV_SUBDIRS= "${launcher[@]}" >/dev/null
ninja -C "$root/build/win" -j "$jobs"
ninja -C "$root/build/host" -j "$jobs"
