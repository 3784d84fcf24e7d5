// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/MediaModule.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>
#include <QStringList>
#include <cstring>
#include <mutex>

namespace zwirl::media {
namespace {

std::once_flag loadOnce;
const MediaBackend* loaded = nullptr;

// Beside an installed program, in its prefix's library folder; for the build tree's programs,
// where the build put it. A program elsewhere never loads code from the folder it was built in,
// which anyone may own later.
QStringList candidatePaths() {
    QStringList paths;
    if (QCoreApplication::instance())
        paths << QCoreApplication::applicationDirPath() +
                     QStringLiteral("/" ZWIRL_MEDIA_MODULE_FROM_BINDIR);
    const QString buildTree = QFileInfo(QStringLiteral(ZWIRL_BUILD_TREE)).canonicalFilePath();
    if (!buildTree.isEmpty() && QFileInfo(QStringLiteral("/proc/self/exe"))
                                    .canonicalFilePath()
                                    .startsWith(buildTree + u'/'))
        paths << QStringLiteral(ZWIRL_MEDIA_MODULE_BUILD_PATH);
    paths.removeDuplicates(); // a program of the build tree finds it both ways
    return paths;
}

const MediaBackend* load() {
    // Never unloaded: its code runs until the process ends (audio threads, objects destroyed late).
    static QLibrary library;
    QStringList errors;
    for (const QString& path : candidatePaths()) {
        if (!QFileInfo::exists(path))
            continue;
        library.setFileName(path);
        if (!library.load()) {
            errors << library.errorString();
            continue;
        }
        const auto entry = reinterpret_cast<decltype(&zwirl_media_backend)>(
            library.resolve("zwirl_media_backend"));
        const MediaBackend* backend = entry ? entry() : nullptr;
        if (backend && std::strcmp(backend->version, ZWIRL_VERSION) == 0)
            return backend;
        errors << QStringLiteral("%1: not a media module of zwirl %2").arg(path, ZWIRL_VERSION);
        library.unload();
    }
    if (errors.isEmpty())
        errors
            << QStringLiteral("not found in %1").arg(candidatePaths().join(QStringLiteral(", ")));
    qCWarning(lcMedia, "The media module could not be loaded: %s",
              qUtf8Printable(errors.join(QStringLiteral("; "))));
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

const char* zwirl::AudioOutput::errorText(int error) {
    const media::MediaBackend* module = media::module();
    return module ? module->outputErrorText(error) : "the audio library could not be loaded";
}
