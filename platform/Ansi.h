#pragma once

#include <QByteArray>
#include <QString>

#include <string_view>

namespace qm {

// The game is a Windows program of the system's ANSI code page: its settings file, and
// the identity string that support decodes, are bytes of that code page. On Windows it is
// the system's own; under Wine, the Western code page (Windows-1252) of the prefix.
// A character the code page lacks becomes its best-fit letter where Windows has one
// (L with stroke becomes "L"), else "?".
QByteArray toAnsi(const QString &text);
QString fromAnsi(std::string_view bytes);

// The Western code page (Windows-1252) by a table of our own, made from the system's
// conversion (best-fit letters included).
QByteArray toWindows1252(const QString &text);
QString fromWindows1252(std::string_view bytes);

} // namespace qm
