#!/usr/bin/env bash
# Installs every Debian package the build and the tests need. Idempotent; safe to rerun.
set -euo pipefail
pkgs=(
  cmake ninja-build g++ make pkg-config python3
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
  wine64 libwine-dev
  xvfb xauth imagemagick x11-utils
  googletest libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  dpkg-dev bzip2 ccache
  libsqlite3-dev tcl
  rsync
)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# Source packages the build compiles with mingw (bzip2 for the compression control): "apt-get
# source" needs a deb-src entry. It is derived from the machine's own binary entries of its
# release suite (same URIs, suite, components and keyring, with the source type), so that a machine
# set up for another or a local mirror keeps using it.
src_list=/etc/apt/sources.list.d/tavrilon-deb-src.sources
wanted=$(python3 "$(dirname "$0")/derive-deb-src.py") || { echo "setup-deps: no Debian binary entry to derive a deb-src entry from" >&2; exit 1; }
if [ "$wanted" != "$(cat "$src_list" 2>/dev/null)" ]; then
  printf '%s\n' "$wanted" > "$src_list"
  apt-get update -qq
fi
