#include "services/TVKLoginItem.h"

#include "services/ServicesLog.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

// GLib's key files read and write desktop entries by the Desktop Entry rules.
#include <glib.h>

#include <memory>
#include <optional>

namespace zwirl {

namespace {

const char* const kGroup = "Desktop Entry";
const QString kEntryName = QStringLiteral("de.tolvarek.zwirl.desktop");

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

// The autostart folder, made when missing; empty when it cannot be had.
QString autostartFolder() {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString folder = config + QStringLiteral("/autostart");
    return !config.isEmpty() && QDir().mkpath(folder) ? folder : QString();
}

KeyFilePtr loadEntry(const QString& path) {
    KeyFilePtr keyFile(g_key_file_new());
    if (!g_key_file_load_from_file(
            keyFile.get(), QFile::encodeName(path).constData(),
            GKeyFileFlags(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS), nullptr) ||
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

// Exec's form of a program path: "%%" for a literal percent sign, quoted and escaped where the
// Desktop Entry rules ask for it.
QString execArgument(const QString& program) {
    const QString argument = QString(program).replace(u'%', QStringLiteral("%%"));
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#`()");
    if (std::none_of(argument.cbegin(), argument.cend(),
                     [](QChar c) { return reserved.contains(c); }))
        return argument;
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    return quoted + u'"';
}

// The program an entry starts: the first word of its Exec line, unquoted, after the field
// codes are expanded as a launcher does ("%%" is a percent sign, the file and URL codes stand
// for nothing at login); nothing when the entry cannot be read.
std::optional<QString> programOf(const QString& path) {
    const KeyFilePtr keyFile = loadEntry(path);
    const CharPtr exec(keyFile ? g_key_file_get_string(keyFile.get(), kGroup, "Exec", nullptr)
                               : nullptr);
    if (!exec)
        return std::nullopt;
    QByteArray command;
    for (const char* c = exec.get(); *c; ++c) {
        if (*c == '%' && c[1]) {
            if (*++c == '%')
                command += '%';
            continue;
        }
        command += *c;
    }
    gchar** rawArguments = nullptr;
    if (!g_shell_parse_argv(command.constData(), nullptr, &rawArguments, nullptr))
        return std::nullopt;
    const StrvPtr arguments(rawArguments);
    return QString::fromUtf8(arguments.get()[0]);
}

} // namespace

void TVKLoginItem::addAppAsLoginItem(const QString& appPath) {
    const QString folder = autostartFolder();
    if (folder.isEmpty())
        return;
    const QString path = folder + u'/' + kEntryName;
    KeyFilePtr keyFile = QFile::exists(path) ? loadEntry(path) : nullptr;
    if (keyFile && (booleanKey(keyFile.get(), "Hidden").value_or(false) ||
                    !booleanKey(keyFile.get(), "X-GNOME-Autostart-enabled").value_or(true)))
        return; // switched off by the user, who has the last word
    if (!keyFile)
        keyFile.reset(g_key_file_new());
    const auto setString = [&](const char* key, const QString& value) {
        g_key_file_set_string(keyFile.get(), kGroup, key, value.toUtf8().constData());
    };
    setString("Type", QStringLiteral("Application"));
    setString("Name", QStringLiteral("zwirl"));
    setString("Exec", execArgument(appPath));
    setString("Icon", QStringLiteral("de.tolvarek.zwirl"));
    g_key_file_set_boolean(keyFile.get(), kGroup, "X-GNOME-Autostart-enabled", TRUE);

    gsize length = 0;
    const CharPtr data(g_key_file_to_data(keyFile.get(), &length, nullptr));
    const QByteArray content(data.get(), qsizetype(length));
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == content)
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        qCWarning(lcServices) << "cannot write the autostart entry" << path << file.errorString();
}

void TVKLoginItem::deleteAppFromLoginItem(const QString& appPath) {
    const QString folder = autostartFolder();
    if (folder.isEmpty())
        return;
    // Canonically equivalent Unicode spellings of one path count as equal.
    const QString wanted = appPath.normalized(QString::NormalizationForm_C);
    const QStringList entries =
        QDir(folder).entryList({QStringLiteral("*.desktop")}, QDir::Files | QDir::Hidden);
    for (const QString& entry : entries) {
        const QString path = folder + u'/' + entry;
        const std::optional<QString> program = programOf(path);
        if (program && program->normalized(QString::NormalizationForm_C) == wanted &&
            !QFile::remove(path))
            qCWarning(lcServices) << "cannot remove the autostart entry" << path;
    }
}

} // namespace zwirl
