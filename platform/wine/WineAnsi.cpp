#include "platform/Ansi.h"

namespace qm {

// A Wine prefix for a Western locale runs its programs in Windows-1252.
QByteArray toAnsi(const QString &text) { return toWindows1252(text); }
QString fromAnsi(std::string_view bytes) { return fromWindows1252(bytes); }

} // namespace qm
