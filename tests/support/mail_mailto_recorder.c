/* Stand-in protocol handler for mailto: URLs: registered as "<exe>" "<log>" "%1", it appends
 * the URL it is given and a line end to the log file, and shows nothing. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    FILE* log;
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    if (__argc < 3) return 2;
    log = fopen(__argv[1], "ab");
    if (!log) return 1;
    fprintf(log, "%s\n", __argv[2]);
    fclose(log);
    return 0;
}
