#include "platform/windows/WindowsShell.h"

#include <windows.h>
#include <shellapi.h>

namespace qm {

void WindowsShell::open(const QString &address)
{
    ::ShellExecuteW(nullptr, L"open", reinterpret_cast<const wchar_t *>(address.utf16()), nullptr,
                    nullptr, SW_SHOWMAXIMIZED);
}

} // namespace qm
