#pragma once

#include <QByteArray>
#include <QString>

#include <string_view>

namespace qm {

// The game is a Windows program of the Western code page (Windows-1252): its settings
// file, and the identity string that support decodes, are bytes of that code page.

// Characters the code page cannot hold become "?".
QByteArray toAnsi(const QString &text);
QString fromAnsi(std::string_view bytes);

} // namespace qm
