#!/usr/bin/env bash
# Installs a built Windows tree into a Wine prefix: registers every server the build lists in
# servers.txt, in order, and writes the machine-wide values the deliverables only read.
#   tools/install-prefix.sh <windows build folder> <prefix>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "$1")
prefix=$(realpath -m "$2")
. "$here/wine-env.sh"
export WINEPREFIX=$prefix
[ -d "$prefix" ] || tv_wine_start "$prefix"

bin=$build/bin
key='HKLM\Software\Zelvan\Tavrilon'
store_dir="$prefix/drive_c/ProgramData/Tavrilon"
mkdir -p "$store_dir" "$bin/help"
tv_wine reg add "$key" /v LangID /t REG_DWORD /d 1033 /f >/dev/null </dev/null
tv_wine reg add "$key" /v Image /d "$(tv_winpath "$bin/Tavrilon.exe")" /f >/dev/null </dev/null
tv_wine reg add "$key" /v HelpRoot /d "$(tv_winpath "$bin/help")" /f >/dev/null </dev/null
tv_wine reg add "$key\\ZvRegistrar" /ve /d 'C:\ProgramData\Tavrilon\ZvRegistrar.cap' /f >/dev/null </dev/null

failed=0
while IFS= read -r line; do
    [ -n "$line" ] || continue
    kind=${line%%:*}
    file=${line#*:}
    [ -e "$file" ] || continue
    case $kind in
        # A registration that fails is tried once more before it counts: under Wine a regsvr32
        # process has been seen to fail once on a freshly made prefix and succeed when run again.
        dll) register() { tv_wine regsvr32 /s "$(tv_winpath "$file")" </dev/null >/dev/null 2>&1; }
             register || { echo "regsvr32 failed once, again: $file" >&2; register; } ||
                 { echo "regsvr32 failed: $file" >&2; failed=1; } ;;
        exe) tv_wine "$(tv_winpath "$file")" /RegServer </dev/null >/dev/null 2>&1 || { echo "/RegServer failed: $file" >&2; failed=1; } ;;
    esac
done < "$build/servers.txt"
exit $failed
