#!/bin/sh
# Starts the test mail server (tools/mailpeer) on 127.0.0.1, runs a mail test program under Wine
# against it, and stops the server again. A test program may leave byte-for-byte checks of files
# it kept in the work folder: lines "<writer> <description> <file or folder>" in fixture-checks.txt
# (names relative to the work folder); each is run by the test-only fixture writer named
# ("dbfixture" for device databases, "mailbox10" for the 1.0 mailbox file) and fails the test
# when the files differ. TV_MAIL_WORK_KEEP=1 keeps the work folder's files (a caller put some).
#   mail_test.sh <test.exe> <work folder> [test program arguments...]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
exe=$1
work=$2
shift 2
wine=${TV_WINE:-/usr/lib/wine/wine64}
[ "${TV_MAIL_WORK_KEEP:-}" = 1 ] || rm -rf "$work"
mkdir -p "$work/root"

python3 "$here/../../tools/mailpeer/mail_server.py" "$work/root" "$work/ports" --lifetime 1800 2>"$work/server.log" &
server=$!
trap 'kill "$server" 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
    [ -s "$work/ports" ] && break
    sleep 0.1
done
[ -s "$work/ports" ] || { echo "the test mail server did not start" >&2; cat "$work/server.log" >&2; exit 1; }

cd "$work"
status=0
TV_POP3_PORT=$(cut -d' ' -f1 "$work/ports") \
TV_SMTP_PORT=$(cut -d' ' -f2 "$work/ports") \
TV_MAIL_ROOT=$(printf 'Z:%s' "$(realpath "$work/root")" | sed 's|/|\\|g') \
WINEDEBUG=${WINEDEBUG:--all} "$wine" "$exe" "$@" || status=$?
if [ -f "$work/fixture-checks.txt" ]; then
    tr -d '\r' < "$work/fixture-checks.txt" > "$work/fixture-checks.unix"
    while read -r writer description target; do
        case $writer in
            dbfixture) python3 "$here/../../tools/dbfixture/dbfixture.py" compare "$work/$description" "$work/$target" ||
                           status=1 ;;
            mailbox10) python3 "$here/../../tools/mailfixture/mailbox10.py" compare "$work/$description" "$work/$target" ||
                           status=1 ;;
            *) echo "unknown fixture check: $writer" >&2; status=1 ;;
        esac
    done < "$work/fixture-checks.unix"
fi
exit $status
