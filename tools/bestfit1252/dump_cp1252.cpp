// Prints how the system converts every UTF-16 code unit to the Western code page
// (Windows-1252) with the default flags, that is with its best-fit letters: one line
// "XXXX YY" (code unit, byte, both in hex) for each code unit that is not turned into
// the default character. A plain Win32 program, run on Windows or under Wine.

#include <windows.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>

int main()
{
    _setmode(_fileno(stdout), _O_BINARY);
    for (unsigned code = 0; code <= 0xFFFF; ++code) {
        const wchar_t wide = wchar_t(code);
        char bytes[8] = {};
        BOOL usedDefault = FALSE;
        const int length = WideCharToMultiByte(1252, 0, &wide, 1, bytes, sizeof bytes, nullptr, &usedDefault);
        if (length != 1) {
            std::fprintf(stderr, "U+%04X converts to %d bytes\n", code, length);
            return 1;
        }
        if (!usedDefault)
            std::printf("%04X %02X\n", code, unsigned(static_cast<unsigned char>(bytes[0])));
    }
    return 0;
}
