#!/usr/bin/env bash
# End-to-end check of the test USB driver: a fresh Wine prefix, fake_peer.py standing in for the
# device emulator, the driver installed with install.sh, then tvusbsim_test.exe.
#
#   tools/usbsim/selftest.sh [bin-dir] [prefix-dir]
#
# bin-dir holds tvusbsim.sys, tvusbsim.inf, tvusbsim-install.exe and tvusbsim_test.exe
# (default: build/win/tests/bin); prefix-dir is wiped and recreated (default: build/usbsim-prefix).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
bin_dir=$(realpath "${1:-$repo/build/win/tests/bin}")
prefix=$(realpath -m "${2:-$repo/build/usbsim-prefix}")
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

peer_pid=""
cleanup() {
    "$wineserver" -k >/dev/null 2>&1 || true
    if [ -n "$peer_pid" ]; then kill "$peer_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

seconds_since() { python3 -c "import sys,time; print(f'{time.time() - float(sys.argv[1]):.1f}')" "$1"; }

rm -rf "$prefix"
mkdir -p "$prefix"
started=$(date +%s.%N)
"$wineserver" -p >/dev/null 2>&1
# The first command creates the prefix (Wine runs its own `wineboot --init` and waits). An explicit
# `wineboot -i` on top of that starts a second services.exe, which restarts the prefix's drivers
# while the first is still starting them. No display: windows (the notification window included)
# still work with the null driver.
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
echo "selftest: prefix ready in $(seconds_since "$started") s"

read -r usb_port control_port < <(python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*[x.getsockname()[1] for x in s])')
python3 "$here/fake_peer.py" --usb-port "$usb_port" --control-port "$control_port" \
    >"$prefix/peer.log" 2>&1 &
peer_pid=$!
for _ in $(seq 50); do
    grep -q ready "$prefix/peer.log" 2>/dev/null && break
    sleep 0.1
done
grep -q ready "$prefix/peer.log" || { echo "selftest: fake peer did not start" >&2; exit 1; }

started=$(date +%s.%N)
TVUSBSIM_BIN_DIR="$bin_dir" "$here/install.sh" "$prefix" "$usb_port"
echo "selftest: driver installed in $(seconds_since "$started") s"

TVUSBSIM_CONTROL_PORT="$control_port" "$wine" "$bin_dir/tvusbsim_test.exe"
