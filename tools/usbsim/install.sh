#!/usr/bin/env bash
# Installs the test USB driver into a Wine prefix: five root-enumerated slots (four device
# slots, one loader slot) that connect to the device emulator on 127.0.0.1:<port>, and the host
# controller "\\.\HCD0" whose root hub reports what the slots have plugged.
#
#   tools/usbsim/install.sh <wineprefix> [port]
#
# The built files (tvusbsim.sys, tvusbsim.inf, tvusbsim-install.exe) are taken from
# $TVUSBSIM_BIN_DIR, by default the Windows build's tests/bin. The prefix's wineserver must
# stay up for the driver to keep running (start it with `wineserver -p`).
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: $0 <wineprefix> [port]" >&2
    exit 2
fi
prefix=$(realpath "$1")
port=${2:-47150}
here=$(cd "$(dirname "$0")" && pwd)
bin_dir=${TVUSBSIM_BIN_DIR:-$here/../../build/win/tests/bin}
wine=${WINE:-/usr/lib/wine/wine64}

for f in tvusbsim.sys tvusbsim.inf tvusbsim-install.exe; do
    if [ ! -f "$bin_dir/$f" ]; then
        echo "install.sh: $bin_dir/$f missing (set TVUSBSIM_BIN_DIR)" >&2
        exit 1
    fi
done

target="$prefix/drive_c/tvusbsim"
mkdir -p "$target"
cp "$bin_dir/tvusbsim.sys" "$bin_dir/tvusbsim.inf" "$bin_dir/tvusbsim-install.exe" "$target/"

export WINEPREFIX="$prefix"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
"$wine" 'C:\tvusbsim\tvusbsim-install.exe' 'C:\tvusbsim\tvusbsim.inf' "$port"
