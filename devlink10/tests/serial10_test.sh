#!/usr/bin/env bash
# Runs one test program of the 1.0 generation (zvport10_test.exe, zvdevice10_test.exe,
# zvfactory10_test.exe) under Wine in a fresh prefix of its own, with the serial shim
# (tools/serialsim) preloaded into every Wine process, the wineserver included, so that the
# emulator's pseudo-terminals work as COM ports. The test starts the emulator itself.
#
#   devlink10/tests/serial10_test.sh <test.exe> [prefix-dir] [host-build-dir] [test arguments...]
#
# prefix-dir is wiped and recreated. Without the shim in host-build-dir/lib the test is skipped
# (exit 77), unless TV_REQUIRE_DEVICES is set, when its absence fails it.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
test_exe=$(realpath -m "$1")
prefix=$(realpath -m "${2:-$repo/build/serial10-prefix}")
host_dir=$(realpath -m "${3:-${TV_HOST_BUILD_DIR:-$repo/build/host}}")
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

if [ ! -f "$host_dir/lib/libtvserialsim.so" ]; then
    echo "$(basename "$test_exe"): the serial shim is not built under $host_dir"
    [ -n "${TV_REQUIRE_DEVICES:-}" ] && [ "${TV_REQUIRE_DEVICES}" != 0 ] && exit 1
    exit 77
fi

export WINEPREFIX="$prefix" WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
export TV_ZVEMU="${TV_ZVEMU:-$host_dir/tools/emulator/zvemu}"
unset DISPLAY

cleanup() { "$wineserver" -k >/dev/null 2>&1 || true; }
trap cleanup EXIT

rm -rf "$prefix"
mkdir -p "$prefix"
. "$repo/tools/serialsim/serialsim-env.sh" "$host_dir"
"$wineserver" -p >/dev/null 2>&1
# Device objects, factories and their dialogs own windows: Wine's null display driver, set before
# Wine's desktop process starts (the wineserver is restarted for it).
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
"$wineserver" -k >/dev/null 2>&1 || true
"$wineserver" -w >/dev/null 2>&1 || true
"$wineserver" -p >/dev/null 2>&1
# The language the install sets: the language library beside the test program is Zv0409.dll.
"$wine" reg add 'HKLM\Software\Zelvan\Tavrilon' /v LangID /t REG_DWORD /d 1033 /f >/dev/null 2>&1

timeout 800 "$wine" "$test_exe" "${@:4}"
