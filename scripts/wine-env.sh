# Sourced: sets up the project's own Wine prefix and an X display for it.
#   VELK_BUILD   build root (default: <repo>/build); the prefix lives in $VELK_BUILD/wineprefix
# Afterwards WINEPREFIX, DISPLAY and friends are exported, the prefix exists, Wine's crash
# dialog is off and a persistent wineserver runs. velk_wine_stop ends what this started.

VELK_REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${VELK_BUILD:=$VELK_REPO/build}"
export VELK_BUILD
export WINEPREFIX="$VELK_BUILD/wineprefix"
export WINEARCH=win32
export WINEDEBUG=-all
# No Mono or Gecko installers: they cannot be downloaded here and nothing needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINE_STARTED_XVFB=""

velk_start_display() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
    local n
    for n in $(seq 90 140); do
        [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        WINE_STARTED_XVFB=$!
        export DISPLAY=":$n"
        local i
        for i in $(seq 1 100); do
            xdpyinfo >/dev/null 2>&1 && return 0
            sleep 0.1
        done
        kill "$WINE_STARTED_XVFB" 2>/dev/null
        WINE_STARTED_XVFB=""
    done
    echo "wine-env: could not start Xvfb" >&2
    return 1
}

velk_make_prefix() {
    mkdir -p "$VELK_BUILD"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "wine-env: creating the Wine prefix in $WINEPREFIX"
        wineboot -i >/dev/null 2>&1 </dev/null
        wineserver -w
    fi
    # An unguarded crash would open winedbg's dialog and hang a test.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 </dev/null
}

velk_wine_start() {
    velk_start_display || return 1
    velk_make_prefix
    # One server for the whole run; Wine's background services start now, with their
    # output away from whatever pipe reads the tests.
    wineserver -p >/dev/null 2>&1 </dev/null || true  # already running: fine
    wine cmd /c exit >/dev/null 2>&1 </dev/null
}

velk_wine_stop() {
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "$WINE_STARTED_XVFB" ]; then
        kill "$WINE_STARTED_XVFB" 2>/dev/null || true
        WINE_STARTED_XVFB=""
    fi
}
