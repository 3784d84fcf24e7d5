// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "capture/BusNameOwner.h"
#include "capture/ClickSource.h"

#include <QDBusContext>
#include <QThread>

namespace zwirl {

class KWinPixelReader;

// Clicks on KDE Plasma under Wayland, where only KWin sees them. For a run zwirl loads two KWin
// effects it installs (data/kwin/): one sees every press of the pointer's buttons, the other
// calls Pressed on our connection for each left press, with the pointer's position and whether
// the window there is one of ours. Reports are taken only from KWin's own connection, the owner
// of org.kde.KWin. The colour under each press is read through KWin's ScreenShot2 interface on a
// thread of its own; the presses keep their order. The reports' interface,
// de.tolvarek.zwirl.Presses, is generated from its definition in data/dbus/.
class KdeClickSource : public ClickSource, protected QDBusContext {
    Q_OBJECT
public:
    explicit KdeClickSource(QObject* parent = nullptr);
    ~KdeClickSource() override;

    // Asks KWin to load the effects; should it not (it runs them only when it composites with
    // OpenGL), the user is told, and `failed` follows.
    bool start() override;
    void stop() override;
    void clearLeftovers() override;

    // de.tolvarek.zwirl.Presses, called through its adaptor.
    // From KWin: a left press at a point of the desktop.
    void Pressed(double x, double y, bool ownWindow);

private:
    void colourRead(quint64 run, QPoint position, std::optional<ClickSample> colour,
                    const QString& failure);
    void loadEffects(QStringList effects, quint64 run);
    void unloadEffects();

    BusNameOwner m_kwin;
    QThread m_readerThread;
    KWinPixelReader* m_reader;
    bool m_started = false;
    // Counts the runs: a colour read for an earlier run is dropped. The reader keeps the order.
    quint64 m_run = 0;
    bool m_toldAboutColours = false;
};

} // namespace zwirl
