// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/ClickSource.h"

#include "capture/ClickSourceKinds.h"
#include "capture/SessionClickSource.h"
#include "capture/gnome/GnomeClickSource.h"
#include "capture/kde/KdeClickSource.h"
#include "capture/x11/X11ClickSource.h"

namespace zwirl {
namespace {

template <class Source> std::unique_ptr<ClickSource> make() {
    return std::make_unique<Source>();
}

const ClickSourceKind kKinds[] = {
    {[] { return waylandSession() && currentDesktopIs(QLatin1String("GNOME")); }, false,
     make<GnomeClickSource>},
    {[] { return waylandSession() && currentDesktopIs(QLatin1String("KDE")); }, false,
     make<KdeClickSource>},
    // Any X server: the session's own, or XWayland, which shows only X11 applications' clicks.
    {[] { return true; }, true, make<X11ClickSource>},
};

} // namespace

std::span<const ClickSourceKind> clickSourceKinds() {
    return kKinds;
}

bool waylandSession() {
    return qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") ||
           qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

bool currentDesktopIs(QLatin1String desktop) {
    return qEnvironmentVariable("XDG_CURRENT_DESKTOP")
        .split(u':')
        .contains(desktop, Qt::CaseInsensitive);
}

std::unique_ptr<ClickSource> createClickSource(QObject* parent) {
    return std::make_unique<SessionClickSource>(parent);
}

bool clicksNeedX11Windows() {
    if (!waylandSession())
        return false;
    for (const ClickSourceKind& kind : clickSourceKinds())
        if (kind.availableHere())
            return kind.needsX11Windows;
    return true;
}

} // namespace zwirl
