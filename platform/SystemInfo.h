#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace qm {

class SystemInfo
{
public:
    virtual ~SystemInfo() = default;

    // The computer name as a Windows program sees it, at most 15 characters; empty when
    // it cannot be read.
    virtual QString computerName() const = 0;

    // The serial number of the volume whose root is `root` (such as "c:\"); nothing when
    // it cannot be read.
    virtual std::optional<std::uint32_t> volumeSerial(const QString &root) const = 0;
};

} // namespace qm
