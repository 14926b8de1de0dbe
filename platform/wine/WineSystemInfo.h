#pragma once

#include "platform/SystemInfo.h"
#include "platform/wine/WinePrefix.h"

namespace qm {

// The computer name and volume serial that a Windows program sees under Wine.
class WineSystemInfo final : public SystemInfo
{
public:
    explicit WineSystemInfo(WinePrefix prefix);

    // Derived from the host name as Wine does: the part before the first dot, at most 15
    // characters, letters upper-cased, characters outside A-Z, 0-9 and !@#$%^&')(-_{}`
    // replaced by "_". Empty when the host name cannot be read.
    QString computerName() const override;

    // The hex number in ".windows-serial" at the root of the drive, else Wine's default
    // for a folder-backed drive, 0x43000000. Nothing when the drive does not exist.
    std::optional<std::uint32_t> volumeSerial(const QString &root) const override;

    // The computer name for a given host name (what computerName() applies).
    static QString computerNameFor(const QString &hostName);

private:
    WinePrefix m_prefix;
};

} // namespace qm
