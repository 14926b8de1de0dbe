#pragma once

#include "platform/FileSystem.h"
#include "platform/wine/WinePrefix.h"

namespace qm {

// The game's files where they really are: Windows paths resolved through a Wine prefix.
class HostFileSystem final : public FileSystem
{
public:
    explicit HostFileSystem(WinePrefix prefix);

    bool exists(const QString &path) const override;
    bool readWholeFile(const QString &path, std::string &contents) const override;
    bool listFolder(const QString &folder,
                    const std::function<void(const QByteArray &name)> &entry) const override;
    bool deleteFile(const QString &folder, const QByteArray &name) const override;

private:
    struct OpenListing
    {
        QString folder;
        int fd = -1;
    };

    WinePrefix m_prefix;
    mutable OpenListing m_listing;
};

} // namespace qm
