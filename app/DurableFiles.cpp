// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DurableFiles.h"

#include <QFile>

#include <cstdio>
#include <fcntl.h>
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

} // namespace zwirl::durable
