#pragma once

#include <QString>

// The application's entry in the programs the desktop starts at login.
class TVKLoginItem {
public:
    TVKLoginItem() = delete;

    // Lists the executable at `appPath` to be started at login. Adding again leaves one entry,
    // and an entry the user has switched off stays off. Does nothing when the list cannot be
    // opened.
    static void addAppAsLoginItem(const QString& appPath);
    // Removes every entry that starts the executable at `appPath` (compared case-sensitively);
    // entries of other programs and entries that cannot be read stay.
    static void deleteAppFromLoginItem(const QString& appPath);
};
