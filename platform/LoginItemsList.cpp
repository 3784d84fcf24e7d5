#include "platform/LoginItemsList.h"

#include "platform/PlatformLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <glib.h>

#include <algorithm>
#include <memory>

namespace {

const char* const kGroup = "Desktop Entry";

struct KeyFileDeleter {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
struct GFreeDeleter {
    void operator()(gpointer memory) const { g_free(memory); }
};
struct StrvDeleter {
    void operator()(gchar** strings) const { g_strfreev(strings); }
};
using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileDeleter>;
using CharPtr = std::unique_ptr<gchar, GFreeDeleter>;
using StrvPtr = std::unique_ptr<gchar*, StrvDeleter>;

KeyFilePtr loadKeyFile(const QString& path) {
    KeyFilePtr keyFile(g_key_file_new());
    const GKeyFileFlags flags =
        GKeyFileFlags(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS);
    if (!g_key_file_load_from_file(keyFile.get(), QFile::encodeName(path).constData(), flags,
                                   nullptr) ||
        !g_key_file_has_group(keyFile.get(), kGroup))
        return nullptr;
    return keyFile;
}

// A missing or unreadable key counts as not set.
std::optional<bool> booleanKey(GKeyFile* keyFile, const char* key) {
    GError* error = nullptr;
    const gboolean value = g_key_file_get_boolean(keyFile, kGroup, key, &error);
    if (error) {
        g_error_free(error);
        return std::nullopt;
    }
    return value != FALSE;
}

bool switchedOffByUser(GKeyFile* keyFile) {
    return booleanKey(keyFile, "Hidden").value_or(false) ||
           !booleanKey(keyFile, "X-GNOME-Autostart-enabled").value_or(true);
}

void setString(GKeyFile* keyFile, const char* key, const QString& value) {
    g_key_file_set_string(keyFile, kGroup, key, value.toUtf8().constData());
}

// Field codes are expanded before the line is split, as GLib's launcher does: "%%" is a
// literal percent sign, and the codes for files and URLs stand for nothing at login.
QByteArray expandFieldCodes(const QByteArray& exec) {
    QByteArray expanded;
    expanded.reserve(exec.size());
    for (qsizetype i = 0; i < exec.size(); ++i) {
        if (exec[i] == '%' && i + 1 < exec.size()) {
            if (exec[i + 1] == '%')
                expanded += '%';
            ++i;
            continue;
        }
        expanded += exec[i];
    }
    return expanded;
}

bool writeFile(const QString& path, const QByteArray& data) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        qCWarning(lcPlatform) << "cannot write the autostart entry" << path << file.errorString();
        return false;
    }
    return true;
}

} // namespace

std::optional<LoginItemsList> LoginItemsList::sessionLoginItems() {
    const QString configHome =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (configHome.isEmpty())
        return std::nullopt;
    const QString directory = configHome + QStringLiteral("/autostart");
    if (!QDir().mkpath(directory))
        return std::nullopt;
    return LoginItemsList(directory);
}

LoginItemsList::LoginItemsList(QString directory) : m_directory(std::move(directory)) {}

QString LoginItemsList::pathOf(const QString& item) const {
    return m_directory + u'/' + item;
}

QString LoginItemsList::execArgument(const QString& program) {
    // A literal percent sign is written "%%" so that it is not read as a field code.
    QString argument = program;
    argument.replace(u'%', QStringLiteral("%%"));
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#`()");
    const bool needsQuotes = std::any_of(argument.cbegin(), argument.cend(),
                                         [](QChar c) { return reserved.contains(c); });
    if (!needsQuotes)
        return argument;
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    return quoted + u'"';
}

bool LoginItemsList::insertItem(const Entry& entry) {
    const QString path = pathOf(entry.identifier + QStringLiteral(".desktop"));
    KeyFilePtr keyFile = QFileInfo::exists(path) ? loadKeyFile(path) : nullptr;
    if (keyFile && switchedOffByUser(keyFile.get()))
        return true;
    if (!keyFile)
        keyFile.reset(g_key_file_new());
    setString(keyFile.get(), "Type", QStringLiteral("Application"));
    setString(keyFile.get(), "Name", entry.name);
    setString(keyFile.get(), "Exec", execArgument(entry.program));
    setString(keyFile.get(), "Icon", entry.iconName);
    g_key_file_set_boolean(keyFile.get(), kGroup, "X-GNOME-Autostart-enabled", TRUE);

    gsize length = 0;
    CharPtr data(g_key_file_to_data(keyFile.get(), &length, nullptr));
    const QByteArray content(data.get(), qsizetype(length));
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == content)
        return true;
    return writeFile(path, content);
}

QStringList LoginItemsList::snapshot() const {
    return QDir(m_directory)
        .entryList({QStringLiteral("*.desktop")}, QDir::Files | QDir::Hidden, QDir::Name);
}

std::optional<QString> LoginItemsList::resolveItem(const QString& item) const {
    const KeyFilePtr keyFile = loadKeyFile(pathOf(item));
    if (!keyFile)
        return std::nullopt;
    // get_string undoes the key file's own escapes (\s, \n, \t, \r, \\).
    CharPtr exec(g_key_file_get_string(keyFile.get(), kGroup, "Exec", nullptr));
    if (!exec)
        return std::nullopt;
    const QByteArray command = expandFieldCodes(QByteArray(exec.get()));
    gchar** rawArguments = nullptr;
    if (!g_shell_parse_argv(command.constData(), nullptr, &rawArguments, nullptr))
        return std::nullopt;
    const StrvPtr arguments(rawArguments);
    return QString::fromUtf8(arguments.get()[0]);
}

bool LoginItemsList::removeItem(const QString& item) {
    QFile file(pathOf(item));
    if (!file.remove()) {
        qCWarning(lcPlatform) << "cannot remove the autostart entry" << file.fileName()
                              << file.errorString();
        return false;
    }
    return true;
}
