#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The programs the desktop starts when the user logs in: the desktop entries of the user's
// XDG autostart folder ($XDG_CONFIG_HOME/autostart, usually ~/.config/autostart). An item is
// the file name of one entry in that folder.
class LoginItemsList {
public:
    // What an application asks to be started with.
    struct Entry {
        QString identifier; // the desktop-file id; the entry is stored as <identifier>.desktop
        QString name;
        QString iconName;
        QString program; // absolute path of the executable
    };

    // The current user's list; nothing when the autostart folder can neither be found nor made.
    static std::optional<LoginItemsList> sessionLoginItems();

    explicit LoginItemsList(QString directory);
    QString directory() const { return m_directory; }

    // Writes the entry as <identifier>.desktop, replacing an earlier entry of that name, so
    // that inserting twice leaves one entry. An entry the user switched off with the desktop's
    // own tool (Hidden=true, X-GNOME-Autostart-enabled=false) stays as it is: that is the
    // user's choice. False when the entry could not be written.
    bool insertItem(const Entry& entry);
    // The items (entry file names), in name order.
    QStringList snapshot() const;
    // The program that the item starts: the first word of its Exec line, unquoted and with
    // field codes expanded as a launcher does; nothing when the item cannot be read.
    std::optional<QString> resolveItem(const QString& item) const;
    bool removeItem(const QString& item);

    // Exec's form of a program path: quoted and escaped where the Desktop Entry rules ask for it.
    static QString execArgument(const QString& program);

private:
    QString pathOf(const QString& item) const;

    QString m_directory;
};
