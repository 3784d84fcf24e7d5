// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/ClickSample.h"

#include <QLoggingCategory>
#include <QObject>
#include <QPoint>

#include <memory>
#include <optional>

namespace zwirl {

// Where a run gets its clicks: left presses outside this process, with the colour under them.
class ClickSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // False without access to clicks; a source that asks another process emits `failed` on a no.
    virtual bool start() = 0;
    virtual void stop() = 0;
    // Removes what a zwirl that ended without stopping left watching in the desktop.
    virtual void clearLeftovers() {}
    // Does what `setUpOffered` offered, with the user's consent.
    virtual void setUp() {}
    // Asks, outside any run, whether the desktop needs setting up: `setUpOffered` answers.
    virtual void checkSetUp() {}

Q_SIGNALS:
    // In press order; no colour when it could not be read.
    void clicked(QPoint position, std::optional<zwirl::ClickSample> colour);
    void notice(const QString& text);
    // What the desktop needs to show every click (empty: nothing), and setUp()'s button.
    void setUpOffered(const QString& text, const QString& action);
    // A start that returned true failed after all; the source is stopped.
    void failed();
    // A source that could not start before can now: an open run moves to it.
    void becameAvailable();
};

std::unique_ptr<ClickSource> createClickSource();
// Whether our windows must be X11 ones (XWayland) for presses on them to be known.
bool clicksNeedX11Windows();

inline Q_LOGGING_CATEGORY(lcCapture, "zwirl.capture")

} // namespace zwirl
