#pragma once

#include "platform/Shell.h"

namespace qm {

// Opens addresses through the Windows shell, shown maximised.
class WindowsShell final : public Shell
{
public:
    void open(const QString &address) override;
};

} // namespace qm
