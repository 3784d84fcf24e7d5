// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/MediaModule.h"

#include <QFileInfo>
#include <QLibrary>
#include <cstring>
#include <mutex>

namespace zwirl::media {
namespace {

std::once_flag loadOnce;
const MediaBackend* loaded = nullptr;

// Below the program's prefix: the build tree lays its programs and the module out as an
// installation does, so no program loads code from a folder named at its build, which anyone may
// own later.
const MediaBackend* load() {
    // Never unloaded: its code runs until the process ends (audio threads, objects destroyed late).
    static QLibrary library;
    const QString path = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath() +
                         QStringLiteral("/" ZWIRL_MEDIA_MODULE_FROM_BINDIR);
    library.setFileName(path);
    QString error;
    if (!QFileInfo::exists(path)) {
        error = QStringLiteral("not found in %1").arg(path);
    } else if (!library.load()) {
        error = library.errorString();
    } else {
        const auto entry = reinterpret_cast<decltype(&zwirl_media_backend)>(
            library.resolve("zwirl_media_backend"));
        const MediaBackend* backend = entry ? entry() : nullptr;
        if (backend && std::strcmp(backend->version, ZWIRL_VERSION) == 0)
            return backend;
        error = QStringLiteral("%1: not a media module of zwirl %2").arg(path, ZWIRL_VERSION);
        library.unload();
    }
    qCWarning(lcMedia, "The media module could not be loaded: %s", qUtf8Printable(error));
    return nullptr;
}

// Null (with the reason logged once) when it cannot be loaded or belongs to another build.
const MediaBackend* module() {
    std::call_once(loadOnce, [] { loaded = load(); });
    return loaded;
}

} // namespace

void useBuiltInMediaModule(const MediaBackend* backend) {
    std::call_once(loadOnce, [backend] { loaded = backend; });
}

std::unique_ptr<AudioFileReader> makeReader() {
    return module() ? module()->makeReader() : nullptr;
}

std::unique_ptr<AudioFileWriter> makeWriter() {
    return module() ? module()->makeWriter() : nullptr;
}

std::unique_ptr<AudioOutput> makeOutput() {
    return module() ? module()->makeOutput() : nullptr;
}

QList<std::pair<QString, QString>> libraryVersions() {
    return module() ? module()->libraryVersions() : QList<std::pair<QString, QString>>{};
}

} // namespace zwirl::media
