#include "platform/Workspace.h"

#include "platform/PlatformLog.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

#include <gio/gio.h>

#include <cstring>
#include <memory>

namespace {

const char* const kCustomIconAttribute = "metadata::custom-icon";

struct GObjectDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct GErrorDeleter {
    void operator()(GError* error) const { g_error_free(error); }
};
struct GFreeDeleter {
    void operator()(gpointer memory) const { g_free(memory); }
};
struct AttributeListDeleter {
    void operator()(GFileAttributeInfoList* list) const { g_file_attribute_info_list_unref(list); }
};

using FilePtr = std::unique_ptr<GFile, GObjectDeleter>;
using ErrorPtr = std::unique_ptr<GError, GErrorDeleter>;
using CharPtr = std::unique_ptr<char, GFreeDeleter>;
using AttributeListPtr = std::unique_ptr<GFileAttributeInfoList, AttributeListDeleter>;

// GLib would start a bus of its own (dbus-launch) when it finds none; gvfs lives on the
// session's bus, so without one there is no metadata store to ask.
bool sessionBusKnown() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

// GIO offers the metadata namespace only when gvfs is reachable on the session bus.
bool metadataWritable(GFile* file) {
    GError* rawError = nullptr;
    AttributeListPtr namespaces(g_file_query_writable_namespaces(file, nullptr, &rawError));
    ErrorPtr error(rawError);
    if (!namespaces)
        return false;
    for (int i = 0; i < namespaces->n_infos; ++i) {
        if (std::strcmp(namespaces->infos[i].name, "metadata") == 0)
            return true;
    }
    return false;
}

QByteArray pngData(const QImage& image) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return {};
    return data;
}

// Stores the image under a name made from its content, so that one image set on many files is
// kept once and a stored icon never changes under a file that uses it. Returns its path.
QString storeIconImage(const QImage& image) {
    const QByteArray data = pngData(image);
    if (data.isEmpty())
        return {};
    const QString directory = Workspace::iconDirectory();
    if (!QDir().mkpath(directory)) {
        qCWarning(lcPlatform) << "cannot create the icon folder" << directory;
        return {};
    }
    const QByteArray hash = QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
    const QString path = directory + u'/' + QString::fromLatin1(hash) + QStringLiteral(".png");
    if (QFileInfo(path).size() == data.size())
        return path;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        qCWarning(lcPlatform) << "cannot store the icon image" << path << file.errorString();
        return {};
    }
    return path;
}

bool setCustomIconAttribute(GFile* file, const char* uri) {
    GError* rawError = nullptr;
    const gboolean done =
        uri ? g_file_set_attribute_string(file, kCustomIconAttribute, uri, G_FILE_QUERY_INFO_NONE,
                                          nullptr, &rawError)
            : g_file_set_attribute(file, kCustomIconAttribute, G_FILE_ATTRIBUTE_TYPE_INVALID,
                                   nullptr, G_FILE_QUERY_INFO_NONE, nullptr, &rawError);
    ErrorPtr error(rawError);
    return done && !error;
}

} // namespace

Workspace& Workspace::sharedWorkspace() {
    static Workspace workspace;
    return workspace;
}

QString Workspace::iconDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/zwirl/icons");
}

bool Workspace::setIcon(const QImage& image, const QString& path) {
    if (path.isEmpty() || !sessionBusKnown())
        return false;
    const QByteArray localPath = QFile::encodeName(path);
    FilePtr file(g_file_new_for_path(localPath.constData()));
    if (!g_file_query_exists(file.get(), nullptr) || !metadataWritable(file.get()))
        return false;
    if (image.isNull())
        return setCustomIconAttribute(file.get(), nullptr);
    const QString iconPath = storeIconImage(image);
    if (iconPath.isEmpty())
        return false;
    FilePtr iconFile(g_file_new_for_path(QFile::encodeName(iconPath).constData()));
    CharPtr uri(g_file_get_uri(iconFile.get()));
    return setCustomIconAttribute(file.get(), uri.get());
}

bool Workspace::openURL(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

bool Workspace::openFile(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
}
