#!/bin/sh
# Starts the test mail server (tools/mailpeer) on 127.0.0.1, runs a mail test program under Wine
# against it, and stops the server again.
#   mail_test.sh <test.exe> <work folder> [test program arguments...]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
exe=$1
work=$2
shift 2
wine=${TV_WINE:-/usr/lib/wine/wine64}
rm -rf "$work"
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
TV_POP3_PORT=$(cut -d' ' -f1 "$work/ports") \
TV_SMTP_PORT=$(cut -d' ' -f2 "$work/ports") \
TV_MAIL_ROOT=$(printf 'Z:%s' "$(realpath "$work/root")" | sed 's|/|\\|g') \
WINEDEBUG=${WINEDEBUG:--all} "$wine" "$exe" "$@"
