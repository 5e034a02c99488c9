#!/usr/bin/env bash
# The run command: installs what the build needs, builds both trees, installs the suite into a
# Wine prefix (build/wineprefix-run, kept between runs) and starts Tavrilon.exe with emulated
# devices on their real links: a 1.5 device through the test USB driver and a 1.0 device on a
# pseudo-terminal (COM4), both found by the real device factories, next to folder-backed test
# devices. The JScript clients tools/demo/devices_demo.js and tools/demo/hub_demo.js drive it
# under Wine's cscript. Windows appear on $DISPLAY when one is set (the program then stays in the
# tray until Exit); otherwise on a private Xvfb, where screenshots of the tray menu and of a
# device's property sheet are saved under build/run-screens, and the program is ended after the demo.
# TV_USBSIM_PORT chooses the test USB driver's port. Exits non-zero when a demo step fails or
# prints a failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/setup-deps.sh"
bash "$root/tools/build.sh"
# The serial shim answers the modem-line requests on the 1.0 device's pseudo-terminal: loaded
# into every Wine process, so before the wineserver starts.
. "$root/tools/serialsim/serialsim-env.sh" "$root/build/host"
. "$root/tools/wine-env.sh"
. "$root/tools/demo/demo-step.sh"
demo_status=0
user_display=${DISPLAY:-}
prefix=$root/build/wineprefix-run
# A wineserver left from an earlier run has no shim: this prefix's server starts anew.
WINEPREFIX=$prefix "$TV_WINESERVER" -k >/dev/null 2>&1 || true
tv_wine_start "$prefix"
bash "$root/tools/install-prefix.sh" "$root/build/win" "$prefix"
usb_port=${TV_USBSIM_PORT:-47350}
TVUSBSIM_BIN_DIR="$root/build/win/tests/bin" bash "$root/tools/usbsim/install.sh" "$prefix" "$usb_port" >/dev/null

# The emulated devices, named beforehand so that no naming dialog waits for an answer; COM4 is in
# the system's list of serial ports, where the 1.0 factory looks.
emulated=$root/build/demo-emulated
rm -rf "$emulated"; mkdir -p "$emulated/handheld15/default" "$emulated/handheld10/default"
echo "Notes kept on the 1.5 handheld." > "$emulated/handheld15/default/notes.txt"
echo "Notes kept on the 1.0 handheld." > "$emulated/handheld10/default/notes.txt"
tv_wine reg add 'HKCU\Software\Zelvan\Tavrilon\DeviceList\@DEMO015' /v Name /d "Handheld 1.5" /f >/dev/null </dev/null
tv_wine reg add 'HKCU\Software\Zelvan\Tavrilon\DeviceList\@DEMO015' /v IsGuest /t REG_DWORD /d 0 /f >/dev/null </dev/null
tv_wine reg add 'HKCU\Software\Zelvan\Tavrilon\DeviceList\@ZVDEMO1' /v Name /d "Handheld 1.0" /f >/dev/null </dev/null
tv_serial_port_listed 4
"$root/build/host/tools/emulator/zvemu" --usb-port "$usb_port" --control-port 0 \
    --device "slot=0,id=DEMO15DEVICE,short=DEMO015,root=$emulated/handheld15" \
    --device "com=4,root=$emulated/handheld10,id=@ZVDEMO1,prefix=$prefix" >"$root/build/demo-emulator.log" 2>&1 &
emulator=$!
trap 'kill "$emulator" 2>/dev/null || true' EXIT
tv_demo_step tv_wine cscript //nologo "$(tv_winpath "$root/tools/demo/foundation.js")" </dev/null || demo_status=1

# Devices backed by folders, each subfolder one device, served by the test device factory.
devices=$root/build/demo-devices
mkdir -p "$devices/Pocket/Documents" "$devices/Pocket/Games" "$root/build/demo-pc"
echo "Notes kept on the handheld." > "$devices/Pocket/Documents/notes.txt"
echo "Hello from the PC." > "$root/build/demo-pc/hello.txt"
tv_wine reg add 'HKCU\Software\Zelvan\Tavrilon\TestDevice' /v Root /d "$(tv_winpath "$devices")" /f >/dev/null </dev/null

tv_wine "$(tv_winpath "$root/build/win/bin/Tavrilon.exe")" </dev/null >/dev/null 2>&1 &
program=$!
# The factories report their devices as they find them; the 1.0 factory looks at the serial
# ports every five seconds.
sleep 12
tv_demo_step tv_wine cscript //nologo "$(tv_winpath "$root/tools/demo/devices_demo.js")" \
    "$(tv_winpath "$root/build/demo-pc")" </dev/null || demo_status=1
tv_demo_step tv_wine cscript //nologo "$(tv_winpath "$root/tools/demo/hub_demo.js")" \
    "$(tv_winpath "$root/build/demo-pc")" </dev/null || demo_status=1
[ "$demo_status" -eq 0 ] || echo "The demo reported a failure; see the lines above."
if [ -n "$user_display" ]; then
    echo "Tavrilon is running in the tray; choose Exit in its menu to end it."
    wait "$program" || true
else
    # No display to look at: pictures of the tray menu and of a device's property sheet instead.
    screens=$root/build/run-screens
    rm -rf "$screens"; mkdir -p "$screens"
    shots=0
    tv_wine "$(tv_winpath "$root/build/win/tests/bin/tvdemo_screens.exe")" "$(tv_winpath "$screens")" \
        </dev/null 2>/dev/null | tr -d '\r' || shots=$?
    echo "No display: the screenshots are in $screens (tray-menu.bmp: the tray menu,"
    echo "device-properties.bmp: the property sheet of the first device listed)."
    [ "$shots" = 0 ] || echo "Not every screenshot could be taken; see the lines above."
    kill "$program" 2>/dev/null || true
    tv_wine_stop
fi
exit "$demo_status"
