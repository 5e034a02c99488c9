# Sourced by test scripts that run Wine against emulated serial devices:
#   . tools/serialsim/serialsim-env.sh [host-build-dir]
# sets TV_SERIALSIM_LIB to the shim and adds it to LD_PRELOAD, so that every Wine process started
# afterwards (start the wineserver afterwards too) answers the modem-line ioctls on ptys.
tv_serialsim_host_dir=${1:-${TV_HOST_BUILD_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/build/emu10-host}}
TV_SERIALSIM_LIB=$tv_serialsim_host_dir/lib/libtvserialsim.so
if [ -f "$TV_SERIALSIM_LIB" ]; then
    case ":${LD_PRELOAD:-}:" in
        *":$TV_SERIALSIM_LIB:"*) ;;
        *) export LD_PRELOAD=${LD_PRELOAD:+$LD_PRELOAD:}$TV_SERIALSIM_LIB ;;
    esac
else
    echo "serialsim-env: $TV_SERIALSIM_LIB is not built" >&2
fi
export TV_SERIALSIM_LIB

# Lists COM<n> in the prefix's list of serial ports (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), as a
# serial port driver does for the ports it makes; the emulator's pty link is then a port that
# exists for programs that look there first. The list is volatile: call it while the prefix's
# wineserver runs, after its last restart.
#   tv_serial_port_listed <n>
tv_serial_port_listed() {
    "${TV_WINE:-/usr/lib/wine/wine64}" reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "\\Device\\TvSerial$1" \
        /d "COM$1" /f >/dev/null 2>&1 </dev/null
}
