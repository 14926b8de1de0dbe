#pragma once

#include "platform/Registry.h"

namespace qm {

// The system's registry, HKEY_CURRENT_USER.
class WindowsRegistry final : public Registry
{
public:
    std::unique_ptr<RegistryKey> openKey(const QString &path) override;
};

} // namespace qm
