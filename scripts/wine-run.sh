#!/usr/bin/env bash
# Runs one Windows program under the project's Wine prefix (CTest's emulator for the
# cross-compiled tests). test.sh prepares the prefix and the display; run by hand, this
# prepares them itself.
if [ -z "${WINEPREFIX:-}" ] || [ -z "${DISPLAY:-}" ]; then
    # shellcheck source=wine-env.sh
    . "$(dirname "$0")/wine-env.sh"
    velk_wine_start >&2 || exit 1
fi
exec wine "$@" </dev/null
