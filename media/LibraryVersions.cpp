// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/LibraryVersions.h"

#include "media/MediaModule.h"

namespace zwirl::media {

QList<std::pair<QString, QString>> libraryVersions() {
    const MediaBackend* module = mediaModule();
    return module ? module->libraryVersions() : QList<std::pair<QString, QString>>{};
}

} // namespace zwirl::media
