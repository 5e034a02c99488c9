#!/usr/bin/env bash
# End-to-end check of the serial shim: a fresh Wine prefix, the device emulator with one 1.0
# device on COM3 (its pty linked as dosdevices/com3), then tvserialsim_test.exe under Wine with
# libtvserialsim.so preloaded.
#
#   tools/serialsim/selftest.sh [bin-dir] [prefix-dir]
#
# bin-dir holds tvserialsim_test.exe (default: build/emu10-win/tests/bin); prefix-dir is wiped and
# recreated (default: build/serialsim-prefix). The emulator and the shim come from the host tree in
# TV_HOST_BUILD_DIR (default: build/host); without them the check is skipped (exit 77), unless
# TV_REQUIRE_DEVICES is set, when their absence fails it.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
bin_dir=$(realpath -m "${1:-$repo/build/emu10-win/tests/bin}")
prefix=$(realpath -m "${2:-$repo/build/serialsim-prefix}")
host_dir=$(realpath -m "${TV_HOST_BUILD_DIR:-$repo/build/host}")
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
emulator=$host_dir/tools/emulator/zvemu

if [ ! -x "$emulator" ] || [ ! -f "$host_dir/lib/libtvserialsim.so" ]; then
    echo "selftest: no emulator or shim under $host_dir (set TV_HOST_BUILD_DIR)"
    [ -n "${TV_REQUIRE_DEVICES:-}" ] && exit 1
    exit 77
fi

export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

emulator_pid=""
cleanup() {
    "$wineserver" -k >/dev/null 2>&1 || true
    if [ -n "$emulator_pid" ]; then kill "$emulator_pid" 2>/dev/null || true; wait "$emulator_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

rm -rf "$prefix"
mkdir -p "$prefix"
# The shim goes into every Wine process, the wineserver included.
. "$here/serialsim-env.sh" "$host_dir"
"$wineserver" -p >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1

mkdir -p "$prefix/device-root"
"$emulator" --usb-port 0 --control-port 0 --log-file "$prefix/commands.log" \
    --device "com=3,root=$prefix/device-root,id=@SELFTST,prefix=$prefix" >"$prefix/emulator.log" 2>&1 &
emulator_pid=$!
for _ in $(seq 50); do
    grep -q "control port" "$prefix/emulator.log" 2>/dev/null && break
    sleep 0.1
done
grep -q "control port" "$prefix/emulator.log" || { cat "$prefix/emulator.log" >&2; echo "selftest: emulator did not start" >&2; exit 1; }
echo "selftest: com3 -> $(readlink "$prefix/dosdevices/com3")"

status=0
TVSERIALSIM_ID=@SELFTST timeout 120 "$wine" "$bin_dir/tvserialsim_test.exe" 3 || status=$?
echo "selftest: commands the device received:"
cat "$prefix/commands.log"
exit $status
