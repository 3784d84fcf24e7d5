// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/FileIcon.h"

#include "services/ServicesLog.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

#include <gio/gio.h>

#include <cstring>
#include <memory>

namespace zwirl {

namespace {

const char* const kCustomIconAttribute = "metadata::custom-icon";

template <auto Free> struct GDeleter {
    template <typename T> void operator()(T* p) const { Free(p); }
};
using FilePtr = std::unique_ptr<GFile, GDeleter<g_object_unref>>;
using AttributeListPtr =
    std::unique_ptr<GFileAttributeInfoList, GDeleter<g_file_attribute_info_list_unref>>;

// GLib would start a bus of its own (dbus-launch) when it finds none; gvfs lives on the
// session's bus, so without one there is no metadata store to ask.
bool sessionBusKnown() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

// The file, when it exists and GIO offers the metadata namespace for it (gvfs is reachable).
FilePtr fileWithMetadata(const QString& path) {
    if (path.isEmpty() || !sessionBusKnown())
        return nullptr;
    FilePtr file(g_file_new_for_path(QFile::encodeName(path).constData()));
    if (!g_file_query_exists(file.get(), nullptr))
        return nullptr;
    const AttributeListPtr namespaces(
        g_file_query_writable_namespaces(file.get(), nullptr, nullptr));
    for (int i = 0; namespaces && i < namespaces->n_infos; ++i)
        if (std::strcmp(namespaces->infos[i].name, "metadata") == 0)
            return file;
    return nullptr;
}

// Stores the image under a name made from its content, so that one image set on many files is
// kept once and a stored icon never changes under a file that uses it. Returns its path.
QString storeIconImage(const QImage& image) {
    QByteArray data;
    QBuffer buffer(&data);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
        return {};
    const QString directory = FileIcon::iconDirectory();
    if (!QDir().mkpath(directory)) {
        qCWarning(lcServices) << "cannot create the icon folder" << directory;
        return {};
    }
    const QByteArray hash = QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
    const QString path = directory + u'/' + QString::fromLatin1(hash) + QStringLiteral(".png");
    if (QFileInfo(path).size() == data.size())
        return path;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        qCWarning(lcServices) << "cannot store the icon image" << path << file.errorString();
        return {};
    }
    return path;
}

bool setAttribute(GFile* file, const char* uri) {
    return uri ? g_file_set_attribute_string(file, kCustomIconAttribute, uri,
                                             G_FILE_QUERY_INFO_NONE, nullptr, nullptr)
               : g_file_set_attribute(file, kCustomIconAttribute, G_FILE_ATTRIBUTE_TYPE_INVALID,
                                      nullptr, G_FILE_QUERY_INFO_NONE, nullptr, nullptr);
}

} // namespace

QString FileIcon::iconDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/zwirl/icons");
}

bool FileIcon::set(const QString& path, const QImage& image) {
    const FilePtr file = fileWithMetadata(path);
    if (!file || image.isNull())
        return false;
    const QString iconPath = storeIconImage(image);
    return !iconPath.isEmpty() &&
           setAttribute(file.get(), QUrl::fromLocalFile(iconPath).toEncoded().constData());
}

bool FileIcon::remove(const QString& path) {
    const FilePtr file = fileWithMetadata(path);
    return file && setAttribute(file.get(), nullptr);
}

} // namespace zwirl
