#pragma once

#include <QString>

namespace zwirl {

// The application's entry among the programs the desktop starts at login: a desktop entry in
// the user's XDG autostart folder ($XDG_CONFIG_HOME/autostart).
class TVKLoginItem {
public:
    TVKLoginItem() = delete;

    // Lists the executable at `appPath` to be started at login. Adding again leaves one entry,
    // and an entry the user has switched off (Hidden, X-GNOME-Autostart-enabled=false) stays
    // off. Does nothing when the autostart folder can neither be found nor made.
    static void addAppAsLoginItem(const QString& appPath);
    // Removes every entry that starts the executable at `appPath` (compared case-sensitively);
    // entries of other programs and entries that cannot be read stay.
    static void deleteAppFromLoginItem(const QString& appPath);
};

} // namespace zwirl
