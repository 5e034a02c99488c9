# Sourced by the build, test and run scripts: a Wine prefix under the build folder, an X display
# (Xvfb unless one is given), Wine's virtual desktop, and a warm wineserver.
#   tv_wine_start <prefix> [fresh]   makes (or reuses) the prefix and starts everything
#   tv_wine_stop                     ends the wineserver and the Xvfb started here
#   tv_wine <args...>                runs /usr/lib/wine/wine64 with the environment set
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64
TV_WINE=/usr/lib/wine/wine64
TV_WINESERVER=/usr/lib/wine/wineserver
TV_XVFB_PID=

tv_wine() { "$TV_WINE" "$@"; }

tv_start_display() {
    if [ -n "${DISPLAY:-}" ] && [ -z "${TV_FORCE_XVFB:-}" ] && xdpyinfo >/dev/null 2>&1; then
        return 0
    fi
    # Xvfb picks a free display itself (-displayfd), so stale lock files of ended servers do
    # not use up the numbers.
    local numfile
    numfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$numfile" >/dev/null 2>&1 &
    TV_XVFB_PID=$!
    for _ in $(seq 1 100); do
        if [ -s "$numfile" ]; then
            export DISPLAY=":$(tr -d '[:space:]' <"$numfile")"
            rm -f "$numfile"
            xdpyinfo >/dev/null 2>&1 && return 0
        fi
        sleep 0.1
    done
    rm -f "$numfile"
    kill "$TV_XVFB_PID" 2>/dev/null || true
    echo "could not start Xvfb" >&2
    return 1
}

tv_wine_start() {
    local prefix=$1 fresh=${2:-}
    export WINEPREFIX=$prefix
    tv_start_display
    if [ -n "$fresh" ] && [ -d "$prefix" ]; then
        "$TV_WINESERVER" -k >/dev/null 2>&1 || true
        rm -rf "$prefix"
    fi
    mkdir -p "$(dirname "$prefix")"
    # The first command creates the prefix (Wine runs its own initialisation and waits for it);
    # an explicit "wineboot -i" on top would start a second services.exe.
    # Wine's virtual desktop: without a window manager every hide or destroy waits otherwise.
    "$TV_WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1 </dev/null
    "$TV_WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1 </dev/null
    # Restart so that the desktop takes the setting, then keep the server warm.
    "$TV_WINESERVER" -k >/dev/null 2>&1 </dev/null || true
    "$TV_WINESERVER" -p >/dev/null 2>&1 </dev/null
    "$TV_WINE" wineboot >/dev/null 2>&1 </dev/null
}

tv_wine_stop() {
    "$TV_WINESERVER" -k >/dev/null 2>&1 || true
    if [ -n "$TV_XVFB_PID" ]; then
        kill "$TV_XVFB_PID" 2>/dev/null || true
        TV_XVFB_PID=
    fi
}

# Windows form of a Linux path (drive Z: maps the root).
tv_winpath() { printf 'Z:%s' "$(realpath -m "$1" | sed 's|/|\\|g')"; }
