#pragma once

#include "platform/MemoryRegistry.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

namespace qm {

// One "[...]" section of a Wine hive file.
struct UserRegKey
{
    QStringList path; // names below the hive's root, case as stored, no empty ones
    std::vector<std::pair<QString, RegistryValue>> values; // file order; "" is the default value
};

// Reads the text of a hive file as wineserver loads it ("user.reg"): nothing when the first
// line is not "WINE REGISTRY Version 2", which alone makes a text no hive. After it, line by
// line: a line that cannot be read is skipped and the rest kept. A key line whose name
// cannot be read is skipped with the values that follow it, up to the next key line; a value
// line without a readable name and "=" is skipped; a value whose data cannot be read still
// stands, with no data and no type (RegistryValue::Type::None, REG_NONE). Takes time in
// proportion to the text's length, whatever the text holds.
std::optional<std::vector<UserRegKey>> parseUserReg(const QByteArray &text);

} // namespace qm
