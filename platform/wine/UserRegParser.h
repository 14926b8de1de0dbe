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

// Reads the text of a hive file as Wine writes it ("user.reg"): the version line, then
// keys with their values. Nothing when the text is not such a file or is damaged anywhere:
// half a hive would show the game's key as if some of its values were missing. Takes time
// in proportion to the text's length, whatever the text holds.
std::optional<std::vector<UserRegKey>> parseUserReg(const QByteArray &text);

} // namespace qm
