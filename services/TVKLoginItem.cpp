// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/TVKLoginItem.h"

#include "services/ServicesLog.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

// GLib's key files follow the Desktop Entry rules.
#include <glib.h>

#include <algorithm>

namespace zwirl {

namespace {

const char* const kGroup = "Desktop Entry";
const QString kEntryName = QStringLiteral("de.tolvarek.zwirl.desktop");

// The autostart folder, made when missing; empty when it cannot be had.
QString autostartFolder() {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString folder = config + QStringLiteral("/autostart");
    return !config.isEmpty() && QDir().mkpath(folder) ? folder : QString();
}

// The entry, owned by the caller; null when it cannot be read.
GKeyFile* loadEntry(const QString& path) {
    g_autoptr(GKeyFile) keyFile = g_key_file_new();
    if (!g_key_file_load_from_file(
            keyFile, QFile::encodeName(path).constData(),
            GKeyFileFlags(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS), nullptr) ||
        !g_key_file_has_group(keyFile, kGroup))
        return nullptr;
    return static_cast<GKeyFile*>(g_steal_pointer(&keyFile));
}

// A missing or unreadable key counts as `fallback`.
bool booleanKey(GKeyFile* keyFile, const char* key, bool fallback) {
    g_autoptr(GError) error = nullptr;
    const bool value = g_key_file_get_boolean(keyFile, kGroup, key, &error);
    return error ? fallback : value;
}

// A program path as Exec wants it: "%%" for '%', quoted and escaped where the rules ask for it.
QString execArgument(const QString& program) {
    const QString argument = QString(program).replace(u'%', QStringLiteral("%%"));
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#`()");
    if (std::ranges::none_of(argument, [](QChar c) { return reserved.contains(c); }))
        return argument;
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    return quoted + u'"';
}

// Exec's first word, unquoted, "%%" read as '%' and other field codes dropped as at login.
QString programOf(const QString& path) {
    g_autoptr(GKeyFile) keyFile = loadEntry(path);
    g_autofree gchar* exec =
        keyFile ? g_key_file_get_string(keyFile, kGroup, "Exec", nullptr) : nullptr;
    if (!exec)
        return {};
    QByteArray command;
    for (const char* c = exec; *c; ++c) {
        if (*c == '%' && c[1]) {
            if (*++c == '%')
                command += '%';
            continue;
        }
        command += *c;
    }
    g_auto(GStrv) arguments = nullptr;
    if (!g_shell_parse_argv(command.constData(), nullptr, &arguments, nullptr))
        return {};
    return QString::fromUtf8(arguments[0]);
}

} // namespace

void TVKLoginItem::addAppAsLoginItem(const QString& appPath) {
    const QString folder = autostartFolder();
    if (folder.isEmpty())
        return;
    const QString path = folder + u'/' + kEntryName;
    g_autoptr(GKeyFile) keyFile = loadEntry(path);
    if (keyFile && (booleanKey(keyFile, "Hidden", false) ||
                    !booleanKey(keyFile, "X-GNOME-Autostart-enabled", true)))
        return; // switched off by the user, who has the last word
    if (!keyFile)
        keyFile = g_key_file_new();
    const auto setString = [&](const char* key, const QString& value) {
        g_key_file_set_string(keyFile, kGroup, key, value.toUtf8().constData());
    };
    setString("Type", QStringLiteral("Application"));
    setString("Name", QStringLiteral("zwirl"));
    setString("Exec", execArgument(appPath));
    setString("Icon", QStringLiteral("de.tolvarek.zwirl"));
    g_key_file_set_boolean(keyFile, kGroup, "X-GNOME-Autostart-enabled", TRUE);
    // Written to a temporary file and renamed over the entry.
    g_autoptr(GError) error = nullptr;
    if (!g_key_file_save_to_file(keyFile, QFile::encodeName(path).constData(), &error))
        qCWarning(lcServices) << "cannot write the autostart entry" << path << error->message;
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
        const QString program = programOf(path);
        if (!program.isEmpty() && program.normalized(QString::NormalizationForm_C) == wanted &&
            !QFile::remove(path))
            qCWarning(lcServices) << "cannot remove the autostart entry" << path;
    }
}

} // namespace zwirl
