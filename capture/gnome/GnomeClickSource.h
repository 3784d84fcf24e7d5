// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "capture/CompositorClickSource.h"

class ShellWatcherProxy;

namespace zwirl {

// Clicks on GNOME under Wayland, reported with their colour by zwirl's shell extension.
class GnomeClickSource : public CompositorClickSource {
    Q_OBJECT
public:
    GnomeClickSource();
    ~GnomeClickSource() override;

    // Should the extension not watch, `failed` follows what the user is told to do.
    bool start() override;
    void stop() override;
    // Enables the extension, which then calls ShellReady.
    void setUp() override;
    void checkSetUp() override { explainExtension(false); }

    // de.tolvarek.zwirl.Clicks, served through its adaptor.
    void Pressed(int x, int y, bool ownWindow, const QList<double>& colour);
    // The extension is (again) enabled: an open run asks it to watch, or moves to it.
    void ShellReady();

private:
    void explainExtension(bool watchFailed);

    ShellWatcherProxy* m_watcher;
};

} // namespace zwirl
