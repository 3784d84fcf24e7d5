// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "capture/ClickSource.h"

#include "capture/BusNameOwner.h"

#include <QDBusContext>

class ShellWatcherProxy;

namespace zwirl {

// Clicks on GNOME under Wayland, where only the shell sees them: zwirl's shell extension,
// asked to watch, reports each left press (position, colour, whether it hit one of our
// windows) by calling Pressed on our connection. Reports are taken only from the shell's own
// connection, the owner of org.gnome.Shell; anyone else is refused. Both sides' interfaces,
// de.tolvarek.zwirl.Clicks (ours) and de.tolvarek.zwirl.Shell (the extension's), are generated
// from their definitions in data/dbus/, which the extension loads too.
class GnomeClickSource : public ClickSource, protected QDBusContext {
    Q_OBJECT
public:
    static inline const QString kExtensionUuid = QStringLiteral("zwirl@tolvarek.de");

    explicit GnomeClickSource(QObject* parent = nullptr);
    ~GnomeClickSource() override;

    // Asks the extension to watch; should it not (not installed, not enabled, not loaded by
    // this shell yet), the user is told what to do, and `failed` follows.
    bool start() override;
    void stop() override;
    // Enables the extension; `becameAvailable` follows when the extension says it is ready.
    void setUp() override;
    void checkSetUp() override { explainExtension(false); }

    // de.tolvarek.zwirl.Clicks, called through its adaptor.
    // From the extension: a left press at a point of the screen, with the colour there as
    // red, green and blue from 0 to 1 (empty when the shell could not read it).
    void Pressed(int x, int y, bool ownWindow, const QList<double>& colour);
    // From the extension, once it is (again) enabled: a run still open asks it to watch, and
    // one that could not use it before moves to it.
    void ShellReady();

private:
    bool fromShell();
    // What the shell says of the extension, after a run's Watch failed or outside a run.
    void explainExtension(bool watchFailed);

    BusNameOwner m_shell;
    ShellWatcherProxy* m_watcher;
    bool m_started = false;
    // Counts the starts: the answer to an earlier run's Watch is not this run's.
    quint64 m_run = 0;
};

} // namespace zwirl
