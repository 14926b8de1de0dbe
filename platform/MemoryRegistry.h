#pragma once

#include "platform/Registry.h"

#include <QByteArray>
#include <QMap>

#include <memory>

namespace qm {

struct RegistryValue
{
    // None: no type at all (REG_NONE), as Wine leaves a value whose data it could not read.
    enum class Type { String, ExpandString, MultiString, DWord, QWord, Binary, None, Other };
    Type type = Type::String;
    QString text;    // String, ExpandString; MultiString joined with '\n'
    QByteArray data; // raw data of every other type
};

// A registry held in memory, for tests and for a machine with no registry at all.
class MemoryRegistry final : public Registry
{
public:
    // When `canCreate` is false, a key that does not exist cannot be opened.
    explicit MemoryRegistry(bool canCreate = true);

    void setValue(const QString &keyPath, const QString &name, const RegistryValue &value);
    void addKey(const QString &keyPath);
    bool hasKey(const QString &keyPath) const;

    std::unique_ptr<RegistryKey> openKey(const QString &path) override;

private:
    struct Data;
    std::shared_ptr<Data> m_data;
};

} // namespace qm
