// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/ClickSample.h"

#include <QLoggingCategory>
#include <QObject>
#include <QPoint>

#include <memory>
#include <optional>

namespace zwirl {

// Where a run gets its clicks: the left presses in other applications, each with the colour of
// the pixel under the pointer. Presses on this process's own windows are never reported.
class ClickSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // False when this desktop gives no access to clicks. A source that must ask another process
    // does so without waiting, and emits `failed` should the answer be no.
    virtual bool start() = 0;
    virtual void stop() = 0;
    // Removes what an earlier zwirl that ended without stopping left watching in the desktop.
    virtual void clearLeftovers() {}
    // Does what `setUpOffered` offered, with the user's consent.
    virtual void setUp() {}
    // Asks, outside any run, whether the desktop needs setting up: `setUpOffered` answers.
    virtual void checkSetUp() {}

Q_SIGNALS:
    // In press order, with the colour read at the press (nothing when it could not be read).
    void clicked(QPoint position, std::optional<zwirl::ClickSample> colour);
    void notice(const QString& text);
    // What the desktop needs so that runs record every click, and the button, if any, that
    // setUp() answers; an empty text once nothing is needed.
    void setUpOffered(const QString& text, const QString& action);
    // A start that returned true could not be completed after all; the source is stopped.
    void failed();
    // A source that could not start before can now: an open run moves to it.
    void becameAvailable();
};

// The one place a backend is chosen.
std::unique_ptr<ClickSource> createClickSource(QObject* parent = nullptr);
// Whether this process's windows must be X11 ones (under XWayland) for clicks on them to be
// known: on a Wayland desktop whose compositor zwirl cannot ask.
bool clicksNeedX11Windows();

inline Q_LOGGING_CATEGORY(lcCapture, "zwirl.capture")

} // namespace zwirl
