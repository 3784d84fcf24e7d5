#pragma once

#include "core/ClickSample.h"

#include <QObject>
#include <QPoint>

#include <memory>
#include <optional>

namespace zwirl {

// Where a tracking run gets its clicks from: the left presses the user makes in other
// applications, each with the colour of the screen pixel under the pointer. Presses on this
// process's own windows (main window, menus, tray icon, dialogs) are never reported.
class ClickSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Begins watching; false when this desktop gives no access to the user's clicks.
    virtual bool start() = 0;
    // Ends watching: once it returns, `clicked` is not emitted again until the next start.
    virtual void stop() = 0;
    // While started, the colour of the screen pixel at a point of the desktop (device pixels,
    // origin at the top left); nothing for a point on no screen. Safe from any thread.
    virtual std::optional<ClickSample> colourAt(QPoint globalPosition) = 0;

Q_SIGNALS:
    // On the main thread, once per left press that went to another application, with the
    // pointer position and the pixel colour read when the press arrived.
    void clicked(QPoint position, std::optional<zwirl::ClickSample> colour);
    // Something the user should be told about what this desktop lets a run record.
    void notice(const QString& text);
};

// The click source for this desktop: the one place a backend is chosen.
std::unique_ptr<ClickSource> createClickSource(QObject* parent = nullptr);
// Whether this process's windows must be X11 ones (under XWayland) for clicks to be told from
// clicks on them: on every Wayland desktop but GNOME, whose shell tells them itself.
bool clicksNeedX11Windows();

} // namespace zwirl
