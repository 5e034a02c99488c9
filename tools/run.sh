#!/usr/bin/env bash
# The run command: installs what the build needs, builds both trees, installs the suite into a
# Wine prefix (build/wineprefix-run, kept between runs), starts Tavrilon.exe with an emulated
# device and drives it with the JScript client tools/demo/hub_demo.js under Wine's cscript.
# Windows appear on $DISPLAY when one is set (the program then stays in the tray until Exit);
# otherwise on a private Xvfb, and the program is ended after the demo.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/setup-deps.sh"
bash "$root/tools/build.sh"
. "$root/tools/wine-env.sh"
user_display=${DISPLAY:-}
prefix=$root/build/wineprefix-run
tv_wine_start "$prefix"
bash "$root/tools/install-prefix.sh" "$root/build/win" "$prefix"
tv_wine cscript //nologo "$(tv_winpath "$root/tools/demo/foundation.js")" </dev/null

# Devices backed by folders, each subfolder one device, served by the test device factory.
devices=$root/build/demo-devices
mkdir -p "$devices/Pocket/Documents" "$devices/Pocket/Games" "$root/build/demo-pc"
echo "Notes kept on the handheld." > "$devices/Pocket/Documents/notes.txt"
echo "Hello from the PC." > "$root/build/demo-pc/hello.txt"
tv_wine reg add 'HKCU\Software\Zelvan\Tavrilon\TestDevice' /v Root /d "$(tv_winpath "$devices")" /f >/dev/null </dev/null

tv_wine "$(tv_winpath "$root/build/win/bin/Tavrilon.exe")" </dev/null >/dev/null 2>&1 &
program=$!
sleep 5
tv_wine cscript //nologo "$(tv_winpath "$root/tools/demo/hub_demo.js")" "$(tv_winpath "$root/build/demo-pc")" </dev/null
if [ -n "$user_display" ]; then
    echo "Tavrilon is running in the tray; choose Exit in its menu to end it."
    wait "$program" || true
else
    kill "$program" 2>/dev/null || true
    tv_wine_stop
fi
