# Sourced: sets up the project's own Wine prefix and an X display for it.
#   VELK_BUILD         build root (default: <repo>/build); the prefix lives in $VELK_BUILD/wineprefix
#   VELK_WINE_DESKTOP  size of the Wine virtual desktop every program of the prefix runs in
#                      (default 1280x1024); empty: windows go straight onto the X display
# Afterwards WINEPREFIX, DISPLAY and friends are exported, the prefix exists, Wine's crash
# dialog is off and a persistent wineserver runs. velk_wine_stop ends what this started.
#
# Why a virtual desktop: on a bare Xvfb there is no window manager, and Wine's X11 driver then
# waits about 2 s for one whenever a top-level window is hidden (every closed dialog, message
# box and Print dialog), and minimising a window is a request nobody answers. Inside the
# desktop Wine manages the windows itself, as Windows does: nothing waits, and minimising,
# restoring and activating happen at once. Frames and captions are Wine's own, so
# screenshots show whole windows.

VELK_REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${VELK_BUILD:=$VELK_REPO/build}"
export VELK_BUILD
export WINEPREFIX="$VELK_BUILD/wineprefix"
export WINEARCH=win32
export WINEDEBUG=-all
# No Mono or Gecko installers: they cannot be downloaded here and nothing needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINE_STARTED_XVFB=""
: "${VELK_WINE_DESKTOP=1280x1024}"

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
    # Wine's own Windows fonts (fonts-wine: MS Sans Serif, Tahoma, ...) go where Windows keeps
    # its fonts: Debian's Wine does not read them from /usr/share/wine/fonts, and without them
    # every dialog is laid out in a stand-in face and comes out the wrong size.
    local fonts="$WINEPREFIX/drive_c/windows/Fonts" f
    mkdir -p "$fonts"
    for f in /usr/share/wine/fonts/*; do
        if [ -e "$f" ] && [ ! -e "$fonts/${f##*/}" ]; then cp "$f" "$fonts/"; fi
    done
    # An unguarded crash would open winedbg's dialog and hang a test; the virtual desktop is
    # switched on or off for every later program.
    local reg="$VELK_BUILD/wine-settings.reg"
    {
        printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"ShowCrashDialog"=dword:00000000\r\n\r\n'
        if [ -n "$VELK_WINE_DESKTOP" ]; then
            printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\r\n"Desktop"="velk"\r\n\r\n'
            printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\r\n"velk"="%s"\r\n\r\n' "$VELK_WINE_DESKTOP"
        else
            printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\r\n"Desktop"=-\r\n\r\n'
        fi
    } >"$reg"
    wine regedit /S "$(winepath -w "$reg")" >/dev/null 2>&1 </dev/null
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
