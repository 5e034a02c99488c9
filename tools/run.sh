#!/usr/bin/env bash
# The run command: installs what the build needs, builds both trees, installs the suite into a
# Wine prefix (build/wineprefix-run, kept between runs) and exercises it with the JScript client
# tools/demo/foundation.js under Wine's cscript. Windows appear on $DISPLAY when one is set,
# otherwise on a private Xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/setup-deps.sh"
bash "$root/tools/build.sh"
. "$root/tools/wine-env.sh"
prefix=$root/build/wineprefix-run
tv_wine_start "$prefix"
bash "$root/tools/install-prefix.sh" "$root/build/win" "$prefix"
tv_wine cscript //nologo "$(tv_winpath "$root/tools/demo/foundation.js")" </dev/null
