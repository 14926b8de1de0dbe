#include "platform/windows/WindowsRegistry.h"

#include <windows.h>

#include <vector>

namespace qm {

namespace {

const wchar_t *wide(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

class WindowsRegistryKey final : public RegistryKey
{
public:
    explicit WindowsRegistryKey(HKEY key) : m_key(key) {}
    ~WindowsRegistryKey() override { ::RegCloseKey(m_key); }
    WindowsRegistryKey(const WindowsRegistryKey &) = delete;
    WindowsRegistryKey &operator=(const WindowsRegistryKey &) = delete;

    QString readString(const QString &name) const override
    {
        std::vector<wchar_t> data(64);
        for (;;) {
            DWORD type = REG_NONE;
            DWORD size = DWORD(data.size() * sizeof(wchar_t));
            const LONG status = ::RegQueryValueExW(m_key, wide(name), nullptr, &type,
                                                   reinterpret_cast<BYTE *>(data.data()), &size);
            if (status == ERROR_FILE_NOT_FOUND)
                return QString();
            if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
                if (type != REG_SZ && type != REG_EXPAND_SZ) {
                    throw RegistryError(
                        QString(QStringLiteral("Invalid data type for '") + name + QLatin1Char('\''))
                            .toStdString());
                }
            }
            if (status == ERROR_MORE_DATA) {
                data.resize(size / sizeof(wchar_t) + 2);
                continue;
            }
            if (status != ERROR_SUCCESS)
                return QString();
            // A reader of a text value gets the text up to its first NUL; data stored
            // without one ends where the value ends.
            const qsizetype stored = qsizetype(size / sizeof(wchar_t));
            const QString text = QString::fromWCharArray(data.data(), stored);
            const qsizetype nul = text.indexOf(QChar(0));
            return nul < 0 ? text : text.left(nul);
        }
    }

    QStringList subkeyNames() const override
    {
        QStringList names;
        DWORD longest = 0;
        if (::RegQueryInfoKeyW(m_key, nullptr, nullptr, nullptr, nullptr, &longest, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr)
            != ERROR_SUCCESS)
            return names;
        std::vector<wchar_t> name(longest + 1);
        for (DWORD index = 0;; ++index) {
            DWORD length = DWORD(name.size());
            const LONG status = ::RegEnumKeyExW(m_key, index, name.data(), &length, nullptr, nullptr,
                                                nullptr, nullptr);
            if (status == ERROR_MORE_DATA) {
                // A subkey made since the key was measured: measure again.
                name.resize(name.size() * 2);
                --index;
                continue;
            }
            if (status != ERROR_SUCCESS)
                break;
            names.append(QString::fromWCharArray(name.data(), int(length)));
        }
        return names;
    }

private:
    HKEY m_key;
};

} // namespace

std::unique_ptr<RegistryKey> WindowsRegistry::openKey(const QString &path)
{
    QString relative = path;
    while (relative.startsWith(QLatin1Char('\\')))
        relative.remove(0, 1);
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, wide(relative), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return nullptr;
    return std::make_unique<WindowsRegistryKey>(key);
}

} // namespace qm
