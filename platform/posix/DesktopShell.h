#pragma once

#include "platform/Shell.h"

namespace qm {

// Opens addresses with the desktop's default handler through xdg-open.
class DesktopShell final : public Shell
{
public:
    void open(const QString &address) override;
};

} // namespace qm
