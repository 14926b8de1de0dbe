#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <stdexcept>

namespace qm {

// Raised when a value is read as text but holds another kind of data.
class RegistryError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class RegistryKey
{
public:
    virtual ~RegistryKey() = default;

    // A plain or expandable text value, as stored. A value that does not exist reads as
    // the empty text; a value of any other type raises
    // RegistryError("Invalid data type for '<name>'"). Names compare case-insensitively.
    virtual QString readString(const QString &name) const = 0;

    // Names of the direct subkeys, in enumeration order, case as stored.
    virtual QStringList subkeyNames() const = 0;
};

// The HKEY_CURRENT_USER hive.
class Registry
{
public:
    virtual ~Registry() = default;

    // Opens the key at `path` below HKEY_CURRENT_USER with full access, creating it,
    // empty, when it does not exist. A leading backslash is allowed. Null when the key
    // can neither be opened nor created.
    virtual std::unique_ptr<RegistryKey> openKey(const QString &path) = 0;
};

} // namespace qm
