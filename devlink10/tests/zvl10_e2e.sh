#!/usr/bin/env bash
# Zvl10 end to end under Wine: a fresh prefix with the build installed, the emulator with one 1.0
# device on COM4 (its name preset in the device list), the serial shim preloaded into every Wine
# process. Five phases share the prefix and the device: zvl10_e2e.exe drives the factory itself,
# then tavrilon_device10_e2e.exe has the program (started by COM) find the device through the
# factory and a script client work with it through the hub, then backup_device10_e2e.exe backs
# the device up and restores it through the program's wizard, syncmail10_e2e.exe has the
# program's mail synchronizer send and receive with the test mail server, and
# pimsync_device10_e2e.exe runs contacts and tasks sessions from the program's tray. The first two
# ask for the device to be unplugged (file "unplug": the emulator is stopped and the port's link
# removed) and plugged in again (file "replug": the emulator is started anew). Two more phases,
# each run on its own (ctest zvsyncfiles10_e2e and zvsyncfiles10_limits_e2e), have
# filesync_device10_e2e.exe synchronize files with the device through the program's file
# synchronizer, the second once more after the PC's time zone began daylight saving.
#
#   devlink10/tests/zvl10_e2e.sh <windows build> <host build> <prefix> [phases]
#
# phases: the phases to run, of "factory hub backup mail pim filesync filesync_limits"
# (default "factory hub backup mail pim").
#
# Without the host tree's emulator or shim the test is skipped (exit 77), unless TV_REQUIRE_DEVICES
# is set, when their absence fails it. A phase asked for whose program is not built fails, as does
# any other failure.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m "$1"); host=$(realpath -m "$2"); prefix=$(realpath -m "$3")
phases=" ${4:-factory hub backup mail pim} "
has_phase() { [[ "$phases" == *" $1 "* ]]; }
wineserver=/usr/lib/wine/wineserver
emulator=$host/tools/emulator/zvemu

if [ ! -x "$emulator" ] || [ ! -f "$host/lib/libtvserialsim.so" ]; then
    echo "zvl10_e2e: no emulator or shim under $host"
    [ -n "${TV_REQUIRE_DEVICES:-}" ] && [ "${TV_REQUIRE_DEVICES}" != 0 ] && exit 1
    exit 77
fi

export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
emulator_pid=""
watcher_pid=""
tv_wine_stop() { "$wineserver" -k >/dev/null 2>&1 || true; }
stop_emulator() {
    if [ -n "$emulator_pid" ]; then
        kill "$emulator_pid" 2>/dev/null || true
        wait "$emulator_pid" 2>/dev/null || true
        emulator_pid=""
    fi
}
cleanup() {
    [ -n "$watcher_pid" ] && kill "$watcher_pid" 2>/dev/null || true
    tv_wine_stop
    stop_emulator
    # The emulator the watcher started again.
    [ -f "$prefix/emulator.pid" ] && kill "$(cat "$prefix/emulator.pid")" 2>/dev/null || true
}
trap cleanup EXIT

# The factory and the device objects own windows: Wine's null display driver, set before Wine's
# desktop process starts (the wineserver is restarted for it), and the shim loaded before the
# wineserver starts.
. "$repo/tools/serialsim/serialsim-env.sh" "$host"
. "$repo/tools/wine-env.sh"
rm -rf "$prefix"; mkdir -p "$prefix"
"$wineserver" -p >/dev/null 2>&1
tv_wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
"$wineserver" -k >/dev/null 2>&1 || true
"$wineserver" -w >/dev/null 2>&1 || true
"$wineserver" -p >/dev/null 2>&1
bash "$repo/tools/install-prefix.sh" "$build" "$prefix" || { echo "FAIL: installing the build" >&2; exit 1; }
# The emulated device's port in the system's list of serial ports, where the factory looks first.
tv_serial_port_listed 4
tv_wine reg add 'HKCU\Software\Zelvan\Tavrilon\DeviceList\@ZV10E2E' /v Name /d Preset10 /f >/dev/null 2>&1
work=$prefix/drive_c/zvl10; mkdir -p "$work" "$prefix/device-root/default"
head -c 1500 /dev/urandom > "$work/up.bin"

start_emulator() {
    : >"$prefix/emulator.log"
    "$emulator" --usb-port 0 --control-port 0 --log-file "$prefix/commands.log" \
        --device "com=4,root=$prefix/device-root,id=@ZV10E2E,prefix=$prefix" >>"$prefix/emulator.log" 2>&1 &
    emulator_pid=$!
    for _ in $(seq 50); do grep -q "control port" "$prefix/emulator.log" 2>/dev/null && return 0; sleep 0.1; done
    cat "$prefix/emulator.log" >&2
    echo "FAIL: the emulator did not start" >&2
    return 1
}
start_emulator

# Unplugs and replugs the device whenever a test asks; each request file is taken away when it
# is served, and the answer of the cycle before with it.
( emulator_pid=$emulator_pid
  while :; do
      while [ ! -e "$work/unplug" ]; do sleep 0.2; done
      rm -f "$work/unplug" "$work/replugged"
      stop_emulator; rm -f "$prefix/dosdevices/com4"; touch "$work/unplugged"
      while [ ! -e "$work/replug" ]; do sleep 0.2; done
      rm -f "$work/replug" "$work/unplugged"
      start_emulator && echo "$emulator_pid" >"$prefix/emulator.pid" && touch "$work/replugged"
  done ) &
watcher_pid=$!

status=0
# Runs one phase's program under a time limit; its failure fails the entry.
run_program() { # <name> <limit in seconds> <command...>
    local result=0
    timeout "$2" "${@:3}" || result=$?
    [ "$result" -eq 0 ] || { echo "$1: exit $result"; status=1; }
    return "$result"
}
# A phase asked for whose programs are not built fails the entry: it was asked for and not run.
phase_built() { # <phase> <programs...>
    local program
    for program in "${@:2}"; do
        if [ ! -x "$program" ]; then
            echo "FAIL: $1 phase not run (no $(basename "$program") in $build)"
            status=1
            return 1
        fi
    done
}
program=$build/bin/Tavrilon.exe

if has_phase factory && phase_built factory "$build/tests/bin/zvl10_e2e.exe"; then
    run_program zvl10_e2e.exe "${ZVL10_E2E_LIMIT:-300}" "$TV_WINE" "$build/tests/bin/zvl10_e2e.exe" 'C:\zvl10' || true
    if cmp -s "$work/up.bin" "$work/down.bin"; then
        echo "ok  : exported file equals the imported one"
    else
        echo "FAIL: exported file differs from the imported one (or is missing)"
        status=1
    fi
fi

# The hub phase: the device holds up.bin on its main medium and card.txt on a card medium ("a").
hub_test=$build/tests/bin/tavrilon_device10_e2e.exe
if has_phase hub && phase_built hub "$hub_test" "$program"; then
    mkdir -p "$prefix/device-root/a"; printf 'card text\n' >"$prefix/device-root/a/card.txt"
    head -c 2000 /dev/urandom > "$work/hub-up.bin"
    rm -f "$work/hub-down.bin"
    run_program tavrilon_device10_e2e.exe "${ZVL10_HUB_E2E_LIMIT:-240}" "$TV_WINE" "$hub_test" || true
    if cmp -s "$work/hub-up.bin" "$work/hub-down.bin"; then
        echo "ok  : the file exported through the hub equals the one imported through it"
    else
        echo "FAIL: the file exported through the hub differs from the imported one (or is missing)"
        status=1
    fi
    # The hub's import, export and deletion reached the device as its console commands.
    for command in 'rcv "/default/hub.bin" 2000' 'upl "/default/hub.bin"' 'rm -f "/default/hub.bin"'; do
        if grep -qF "com=4 $command" "$prefix/commands.log"; then
            echo "ok  : the device received: $command"
        else
            echo "FAIL: the device did not receive: $command"
            status=1
        fi
    done
fi
# The backup phase: the program backs the device up and restores it through its wizard.
backup_test=$build/tests/bin/backup_device10_e2e.exe
if has_phase backup && phase_built backup "$backup_test" "$program"; then
    run_program backup_device10_e2e.exe "${ZVL10_BACKUP_E2E_LIMIT:-300}" "$TV_WINE" "$backup_test" || true
fi
# The mail phase: the program's 1.0 mail synchronizer sends the letter waiting in the device's
# mailbox file (written by the fixture writer) and receives the test mail server's letters; the
# file is then compared with the writer's description of it (by mail_test.sh).
mail_test=$build/tests/bin/syncmail10_e2e.exe
if has_phase mail && phase_built mail "$mail_test" "$program"; then
    mail_work=$prefix/mail10
    rm -rf "$mail_work"; mkdir -p "$mail_work"
    python3 "$repo/tools/mailfixture/mailbox10.py" write "$repo/mail/sync10/fixtures/mail10_e2e.json" \
        "$prefix/device-root/default/email.dat"
    cp "$repo/mail/sync10/fixtures/mail10_e2e_after.json" "$mail_work/"
    TV_MAIL_WORK_KEEP=1 TV_WINE=$TV_WINE TV_MAIL10_MAILBOX=$(tv_winpath "$prefix/device-root/default/email.dat") \
        run_program syncmail10_e2e.exe "${ZVL10_MAIL_E2E_LIMIT:-180}" sh "$repo/mail/tests/mail_test.sh" "$mail_test" \
        "$mail_work" || true
fi
# The contacts and tasks phase: sessions of the program's contacts and tasks synchronizers with
# the device and the stand-in desktop mail application.
pim_test=$build/tests/bin/pimsync_device10_e2e.exe
if has_phase pim && phase_built "contacts and tasks" "$pim_test" "$program"; then
    run_program pimsync_device10_e2e.exe "${ZVL10_PIM_E2E_LIMIT:-240}" "$TV_WINE" "$pim_test" || true
fi
# The file synchronization phases. filesync: sessions through the program's file synchronizer.
# filesync_limits: sessions that stop at a device without room and on cancel, in the zone XST
# (UTC, no daylight saving); then the zone's rules change so that daylight saving (an hour
# ahead, for a hundred days) begins now, after every file's time (the suite dates its files in
# the past), and a last session must find nothing to do.
filesync_test=$build/tests/bin/filesync_device10_e2e.exe
run_filesync() { # <zone> <gtest filter>
    TZ=$1 run_program "filesync_device10_e2e.exe $2" "${ZVL10_FILESYNC_E2E_LIMIT:-200}" "$TV_WINE" "$filesync_test" \
        --gtest_filter="$2"
}
if { has_phase filesync || has_phase filesync_limits; } &&
    phase_built "file synchronization" "$filesync_test" "$program"; then
    if has_phase filesync; then
        run_filesync XST0 'FileSync10Sessions.*' || true
    fi
    if has_phase filesync_limits && run_filesync XST0 'FileSync10Limits.*'; then
        # Wine compares the times of the rules to the minute: the change is at the next whole
        # minute, after the minute of every file's time.
        begins=$(( ($(date +%s) / 60 + 1) * 60 ))
        # POSIX rules: zero-based day of the year and the time, in the zone's standard time.
        day=$(( 10#$(date -u -d "@$begins" +%j) - 1 ))
        at=$(date -u -d "@$begins" +%H:%M:%S)
        zone="XST0XDT,$day/$at,$(( (day + 100) % 365 ))/$at"
        echo "zone after the change: $zone"
        run_filesync "$zone" 'FileSync10AfterZoneChange.*' || true
    fi
fi
[ "$status" -eq 0 ] || { echo "--- device commands:"; cat "$prefix/commands.log" 2>/dev/null || true; }
echo "zvl10_e2e: exit $status"
exit "$status"
