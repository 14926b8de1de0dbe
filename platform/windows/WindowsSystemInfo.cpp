#include "platform/windows/WindowsSystemInfo.h"

#include <windows.h>

namespace qm {

QString WindowsSystemInfo::computerName() const
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(name, &length))
        return QString();
    return QString::fromWCharArray(name, int(length));
}

std::optional<std::uint32_t> WindowsSystemInfo::volumeSerial(const QString &root) const
{
    DWORD serial = 0;
    if (!::GetVolumeInformationW(reinterpret_cast<const wchar_t *>(root.utf16()), nullptr, 0, &serial,
                                 nullptr, nullptr, nullptr, 0))
        return std::nullopt;
    return std::uint32_t(serial);
}

} // namespace qm
