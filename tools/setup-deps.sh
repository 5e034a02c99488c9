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
# Source packages the build compiles with mingw (bzip2 for the compression control): a deb-src
# entry for bookworm main lets "apt-get source" fetch them into the build folder.
src_list=/etc/apt/sources.list.d/tavrilon-deb-src.sources
if [ ! -f "$src_list" ]; then
  cat > "$src_list" <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  apt-get update -qq
fi
