// Writes how it was asked to show its window (STARTUPINFO's wShowWindow) to the file
// named by QM_SHOW_REPORT: the shell test's stand-in for the program an address opens.
#include <cstdio>
#include <cstdlib>
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command, int show)
{
    (void)instance; (void)previous; (void)command;
    STARTUPINFOW info;
    GetStartupInfoW(&info);
    const char *report = getenv("QM_SHOW_REPORT");
    if (!report)
        return 1;
    FILE *file = fopen(report, "w");
    if (!file)
        return 1;
    fprintf(file, "%d\n", (info.dwFlags & STARTF_USESHOWWINDOW) ? info.wShowWindow : show);
    fclose(file);
    return 0;
}
