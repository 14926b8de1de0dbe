#pragma once

#include <QString>

namespace qm {

class Shell
{
public:
    virtual ~Shell() = default;

    // Opens a web or "mailto:" address with the desktop's handler, shown maximised. The
    // address is handed on exactly as given. The outcome is not reported.
    virtual void open(const QString &address) = 0;
};

} // namespace qm
