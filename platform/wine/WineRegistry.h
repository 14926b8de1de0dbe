#pragma once

#include "platform/Registry.h"
#include "platform/wine/WinePrefix.h"

namespace qm {

// HKEY_CURRENT_USER as Wine keeps it in the prefix's "user.reg". The file belongs to the
// wineserver, which rewrites it by renaming over it: it is only ever read, afresh for every
// key opened, and a key that does not exist counts as one that could not be created.
class WineRegistry final : public Registry
{
public:
    explicit WineRegistry(WinePrefix prefix);

    std::unique_ptr<RegistryKey> openKey(const QString &path) override;

private:
    WinePrefix m_prefix;
};

} // namespace qm
