#!/bin/sh
# Starts the test HTTP server on 127.0.0.1 (a free port), runs the HTTP client's tests under
# Wine against it, and stops the server again.
#   http_test.sh <ZvSimpleHTTP_test.exe> <work folder>
set -eu
here=$(cd "$(dirname "$0")" && pwd)
exe=$1
work=$2
wine=${TV_WINE:-/usr/lib/wine/wine64}
rm -rf "$work"
mkdir -p "$work/root"

python3 "$here/test_http_server.py" "$work/root" "$work/port" 2>"$work/server.log" &
server=$!
trap 'kill "$server" 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
    [ -s "$work/port" ] && break
    sleep 0.1
done
[ -s "$work/port" ] || { echo "the test HTTP server did not start" >&2; cat "$work/server.log" >&2; exit 1; }

cd "$work"
TV_HTTP_PORT=$(cat "$work/port") \
TV_HTTP_ROOT=$(printf 'Z:%s' "$(realpath "$work/root")" | sed 's|/|\\|g') \
WINEDEBUG=${WINEDEBUG:--all} "$wine" "$exe"
