#pragma once

#include "platform/FileSystem.h"

namespace qm {

// The game's files where Windows keeps them: paths are taken as they are. Names are
// handed out and taken back as UTF-8.
class WindowsFileSystem final : public FileSystem
{
public:
    bool exists(const QString &path) const override;
    bool readWholeFile(const QString &path, std::string &contents) const override;
    bool listFolder(const QString &folder,
                    const std::function<void(const QByteArray &name)> &entry) const override;
    bool deleteFile(const QString &folder, const QByteArray &name) const override;
};

} // namespace qm
