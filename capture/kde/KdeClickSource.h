// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "capture/CompositorClickSource.h"

#include <QThreadPool>

namespace zwirl {

// The pixel at a point of the desktop (logical pixels) through KWin's ScreenShot2, which KWin
// grants as zwirl's installed desktop file names it. Waits; `failure` says why there is none.
std::optional<ClickSample> readKWinPixel(QPoint position, QString& failure);

// Clicks on Plasma under Wayland, reported by the two KWin effects (data/kwin/) loaded for a run.
class KdeClickSource : public CompositorClickSource {
    Q_OBJECT
public:
    KdeClickSource();
    ~KdeClickSource() override { stop(); }

    // Should KWin not load the effects (it runs them only with OpenGL), `failed` follows a notice.
    bool start() override;
    void stop() override;
    void clearLeftovers() override;

    // de.tolvarek.zwirl.Presses, served through its adaptor.
    void Pressed(double x, double y, bool ownWindow);

private:
    void loadEffects(QStringList effects, quint64 run);

    bool m_toldAboutColours = false;
    // One thread keeps the press order; last, so that it goes first, waiting for its read.
    QThreadPool m_reader;
};

} // namespace zwirl
