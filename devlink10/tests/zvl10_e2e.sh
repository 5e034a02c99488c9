#!/usr/bin/env bash
# Zvl10 end to end under Wine: a fresh prefix with the build installed, the emulator with one 1.0
# device on COM4 (its name preset in the device list), the serial shim preloaded.
#   devlink10/tests/zvl10_e2e.sh <windows build> <host build> <prefix>
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath "$1"); host=$(realpath "$2"); prefix=$(realpath -m "$3")
wine=/usr/lib/wine/wine64; wineserver=/usr/lib/wine/wineserver
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
emulator_pid=""
cleanup() {
    "$wineserver" -k >/dev/null 2>&1 || true
    [ -n "$emulator_pid" ] && kill "$emulator_pid" 2>/dev/null || true
}
trap cleanup EXIT
rm -rf "$prefix"; mkdir -p "$prefix"
. "$repo/tools/serialsim/serialsim-env.sh" "$host"
"$wineserver" -p >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
bash "$repo/tools/install-prefix.sh" "$build" "$prefix" || true
"$wine" reg add 'HKCU\Software\Zelvan\Tavrilon\DeviceList\@ZV10E2E' /v Name /d Preset10 /f >/dev/null 2>&1
work=$prefix/drive_c/zvl10; mkdir -p "$work" "$prefix/device-root/default"
head -c 1500 /dev/urandom > "$work/up.bin"
"$host/tools/emulator/zvemu" --usb-port 0 --control-port 0 --log-file "$prefix/commands.log" \
    --device "com=4,root=$prefix/device-root,id=@ZV10E2E,prefix=$prefix" >"$prefix/emulator.log" 2>&1 &
emulator_pid=$!
for _ in $(seq 50); do grep -q "control port" "$prefix/emulator.log" 2>/dev/null && break; sleep 0.1; done
( while [ ! -e "$work/unplug" ]; do sleep 0.2; done
  kill "$emulator_pid"; rm -f "$prefix/dosdevices/com4"; touch "$work/unplugged" ) &
status=0
timeout 300 "$wine" "$build/tests/bin/zvl10_e2e.exe" 'C:\zvl10' || status=$?
cmp "$work/up.bin" "$work/down.bin" && echo "ok  : exported file equals the imported one" || status=1
exit $status
