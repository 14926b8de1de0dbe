#include "platform/Ansi.h"

#include <windows.h>

namespace qm {

// The system's own conversion in its ANSI code page, with its best-fit letters, as every
// ANSI program on this system gets its text.
QByteArray toAnsi(const QString &text)
{
    if (text.isEmpty())
        return QByteArray();
    const auto *wide = reinterpret_cast<const wchar_t *>(text.utf16());
    const int size = ::WideCharToMultiByte(CP_ACP, 0, wide, int(text.size()), nullptr, 0, nullptr, nullptr);
    QByteArray result(size, Qt::Uninitialized);
    ::WideCharToMultiByte(CP_ACP, 0, wide, int(text.size()), result.data(), size, nullptr, nullptr);
    return result;
}

QString fromAnsi(std::string_view bytes)
{
    if (bytes.empty())
        return QString();
    const int size = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    QString result(size, Qt::Uninitialized);
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()),
                          reinterpret_cast<wchar_t *>(result.data()), size);
    return result;
}

} // namespace qm
