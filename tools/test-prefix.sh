#!/usr/bin/env bash
# Runs a test's command in the Wine prefix ctest gave it. The test command makes several prefixes
# of one make (tools/test.sh) and hands them out as the ctest resource "prefix"; a test holding
# one gets CTEST_RESOURCE_GROUP_0_PREFIX=id:<n>,slots:<k>, and prefix <n> is $WINEPREFIX for 0
# and $WINEPREFIX-<n> for the others; the X display of a prefix is the one its file .tv-display
# names. Without an allocation (a plain ctest run, a build step) the command runs in $WINEPREFIX
# as it stands.
#   tools/test-prefix.sh <command> [arguments...]
if [ -n "${CTEST_RESOURCE_GROUP_0_PREFIX:-}" ] && [ -n "${WINEPREFIX:-}" ]; then
    id=${CTEST_RESOURCE_GROUP_0_PREFIX#id:}
    id=${id%%,*}
    [ "$id" = 0 ] || export WINEPREFIX="$WINEPREFIX-$id"
    if [ -s "$WINEPREFIX/.tv-display" ]; then
        DISPLAY=$(cat "$WINEPREFIX/.tv-display")
        export DISPLAY
    fi
fi
exec "$@"
