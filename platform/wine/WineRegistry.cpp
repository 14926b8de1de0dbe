#include "platform/wine/WineRegistry.h"

#include "platform/wine/UserRegParser.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <utility>

namespace qm {

namespace {

// A key as the file held it when it was opened.
class WineRegistryKey final : public RegistryKey
{
public:
    WineRegistryKey(QHash<QString, RegistryValue> values, QStringList subkeys)
        : m_values(std::move(values)), m_subkeys(std::move(subkeys))
    {
    }

    QString readString(const QString &name) const override
    {
        const auto found = m_values.constFind(name.toCaseFolded());
        if (found == m_values.cend())
            return QString();
        const RegistryValue &value = found.value();
        if (value.type != RegistryValue::Type::String
            && value.type != RegistryValue::Type::ExpandString) {
            throw RegistryError(
                QString(QStringLiteral("Invalid data type for '") + name + QLatin1Char('\''))
                    .toStdString());
        }
        // A reader of a text value gets the text up to its first NUL.
        const qsizetype nul = value.text.indexOf(QChar(0));
        return nul < 0 ? value.text : value.text.left(nul);
    }

    QStringList subkeyNames() const override { return m_subkeys; }

private:
    QHash<QString, RegistryValue> m_values; // by case-folded name
    QStringList m_subkeys;
};

bool startsWithPath(const QStringList &path, const QStringList &prefix)
{
    if (path.size() < prefix.size())
        return false;
    for (qsizetype i = 0; i < prefix.size(); ++i) {
        if (path.at(i).compare(prefix.at(i), Qt::CaseInsensitive) != 0)
            return false;
    }
    return true;
}

} // namespace

WineRegistry::WineRegistry(WinePrefix prefix)
    : m_prefix(std::move(prefix))
{
}

std::unique_ptr<RegistryKey> WineRegistry::openKey(const QString &path)
{
    // Only a regular file is a hive: a pipe in its place would hold the open, a device
    // such as /dev/zero would be read without end.
    const QString hive = m_prefix.dir() + QStringLiteral("/user.reg");
    if (!QFileInfo(hive).isFile())
        return nullptr;
    QFile file(hive);
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return nullptr;
    const std::optional<std::vector<UserRegKey>> keys = parseUserReg(text);
    if (!keys)
        return nullptr;

    const QStringList wanted = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    bool found = wanted.isEmpty(); // the hive's root always stands
    QHash<QString, RegistryValue> values;
    QStringList subkeys;
    QSet<QString> seenSubkeys;
    for (const UserRegKey &key : *keys) {
        if (!startsWithPath(key.path, wanted))
            continue;
        // Wine writes no line for a key that holds only subkeys: those lines are its trace.
        found = true;
        if (key.path.size() == wanted.size()) {
            for (const auto &[name, value] : key.values)
                values.insert(name.toCaseFolded(), value);
        } else {
            const QString &subkey = key.path.at(wanted.size());
            const QString folded = subkey.toCaseFolded();
            if (!seenSubkeys.contains(folded)) {
                seenSubkeys.insert(folded);
                subkeys.append(subkey);
            }
        }
    }
    if (!found)
        return nullptr;
    return std::make_unique<WineRegistryKey>(std::move(values), std::move(subkeys));
}

} // namespace qm
