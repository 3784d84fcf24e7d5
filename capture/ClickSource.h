// SPDX-License-Identifier: GPL-3.0-or-later
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

    // Begins watching; false when this desktop gives no access to the user's clicks. A source
    // that must ask another process first does so without waiting, and emits `failed` should
    // the answer be no.
    virtual bool start() = 0;
    // Ends watching: once it returns, `clicked` is not emitted again until the next start.
    virtual void stop() = 0;
    // Once this process is the session's zwirl: removes what an earlier zwirl that ended
    // without stopping left watching in the desktop.
    virtual void clearLeftovers() {}
    // Does what `setUpOffered` offered, with the user's consent.
    virtual void setUp() {}
    // Asks, outside any run, whether the desktop needs setting up: `setUpOffered` answers.
    virtual void checkSetUp() {}

Q_SIGNALS:
    // On the main thread, once per left press that went to another application, in the order
    // of the presses, with the pointer position and the pixel colour read when the press
    // arrived (nothing when it could not be read).
    void clicked(QPoint position, std::optional<zwirl::ClickSample> colour);
    // Something the user should be told about what this desktop lets a run record.
    void notice(const QString& text);
    // What the desktop needs so that runs record every click, for the user to read, and the
    // one button, `action`, that setUp() answers (none when empty: the user must act); an
    // empty text once nothing is needed.
    void setUpOffered(const QString& text, const QString& action);
    // A start that returned true could not be completed after all; the source is stopped.
    void failed();
    // A source that could not start before can now: an open run moves to it.
    void becameAvailable();
};

// The click source for this desktop: the one place a backend is chosen.
std::unique_ptr<ClickSource> createClickSource(QObject* parent = nullptr);
// Whether this process's windows must be X11 ones (under XWayland) for clicks to be told from
// clicks on them: on a Wayland desktop whose compositor zwirl cannot ask.
bool clicksNeedX11Windows();

} // namespace zwirl
