#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace qm {

// The Wine prefix that the Windows game runs in: its drives are the links in
// "dosdevices", its HKEY_CURRENT_USER hive is "user.reg". Copies share one location, so
// that every service made on a prefix follows it when it is moved to another.
class WinePrefix final
{
public:
    // $WINEPREFIX when set and not empty, else ~/.wine.
    static QString defaultLocation();

    explicit WinePrefix(const QString &dir = defaultLocation());

    const QString &dir() const { return *m_dir; }

    // Makes this prefix, and every copy of it, the one in `dir`.
    void moveTo(const QString &dir) const { *m_dir = dir; }

    // Where a Windows path lies on this host, as the bytes to hand to the system.
    // "\" and "/" both separate; a drive letter resolves through "dosdevices/<x>:";
    // a component that does not exist exactly is matched case-insensitively, as Windows
    // would; empty components and "." are skipped, ".." goes up. A path that starts with
    // a separator is a host path. A relative path is relative to the current folder.
    // Components that match nothing are kept as written, so the result then names
    // nothing. Nothing when the drive does not exist.
    std::optional<QByteArray> toHostPath(const QString &windowsPath) const;

    // The Windows path under which a program in the prefix sees a host folder, as Wine
    // names it: through the drive whose target holds the folder most closely (of drives
    // with the same target, the first letter), so that drive Z:, the host's root as Wine
    // sets it up, reaches every folder no other drive holds. Nothing when no drive
    // reaches it.
    std::optional<QString> toWindowsPath(const QString &hostFolder) const;

    // The host folder where a folder chooser opens for a folder text: the folder the text
    // names, else drive C:, else the home folder; links resolved.
    QString hostFolder(const QString &folderText) const;

private:
    std::shared_ptr<QString> m_dir;
};

} // namespace qm
