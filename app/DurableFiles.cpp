// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DurableFiles.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zwirl::durable {

void syncFolder(const QString& path) {
    if (const int folder =
            ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

bool commit(const QString& part, const QString& path) {
    QFile file(part);
    return file.open(QIODevice::ReadWrite) && ::fsync(file.handle()) == 0 &&
           ::rename(QFile::encodeName(part).constData(), QFile::encodeName(path).constData()) == 0;
}

int createNew(const QString& path) {
    return ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                  0600);
}

bool renameFree(int folder, const QByteArray& from, const QByteArray& to) {
    if (::renameat2(folder, from.constData(), folder, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    // A file system that cannot check that for itself.
    struct stat taken;
    return errno == EINVAL && ::fstatat(folder, to.constData(), &taken, AT_SYMLINK_NOFOLLOW) != 0 &&
           errno == ENOENT && ::renameat(folder, from.constData(), folder, to.constData()) == 0;
}

} // namespace zwirl::durable
