#pragma once

#include "platform/SystemInfo.h"

namespace qm {

// The computer name and volume serial numbers as Windows reports them.
class WindowsSystemInfo final : public SystemInfo
{
public:
    QString computerName() const override;
    std::optional<std::uint32_t> volumeSerial(const QString &root) const override;
};

} // namespace qm
