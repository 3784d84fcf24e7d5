// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace zwirl {

// The application's desktop entry in the XDG autostart folder ($XDG_CONFIG_HOME/autostart).
class TVKLoginItem {
public:
    TVKLoginItem() = delete;

    // Adding again leaves one entry; one the user switched off (Hidden,
    // X-GNOME-Autostart-enabled=false) stays off.
    static void addAppAsLoginItem(const QString& appPath);
    // Every entry that starts `appPath` (compared case-sensitively); unreadable entries stay.
    static void deleteAppFromLoginItem(const QString& appPath);
};

} // namespace zwirl
