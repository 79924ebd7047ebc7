/* Stand-in for a product program: appends "command line|current directory" to product.log
   beside itself, so a test sees that, how and from where it was started. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    char self[MAX_PATH * 2] = {0};
    char log[MAX_PATH * 2 + 16];
    char cwd[MAX_PATH * 2] = {0};
    char* slash;
    FILE* f;
    (void)instance; (void)previous; (void)commandLine; (void)show;
    GetModuleFileNameA(NULL, self, sizeof self - 1);
    slash = strrchr(self, '\\');
    if (slash) slash[1] = '\0';
    snprintf(log, sizeof log, "%sproduct.log", self);
    GetCurrentDirectoryA(sizeof cwd - 1, cwd);
    f = fopen(log, "ab");
    if (f) {
        fprintf(f, "%s|%s\n", GetCommandLineA(), cwd);
        fclose(f);
    }
    return 0;
}
