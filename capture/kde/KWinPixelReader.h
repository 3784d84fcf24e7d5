// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/ClickSample.h"

#include <QObject>
#include <QPoint>

#include <optional>

namespace zwirl {

// Reads one pixel of the screen through KWin's ScreenShot2 interface, which writes the image into
// a pipe. KWin lets zwirl do so without asking the user because zwirl's installed desktop file
// names the interface. Each read waits for KWin, so the reader lives on a thread of its own.
class KWinPixelReader : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

public Q_SLOTS:
    // Emits `read` for the pixel at a point of the desktop (logical pixels); `run` is handed back.
    void readAt(QPoint position, quint64 run);

Q_SIGNALS:
    // `failure` says why there is no colour, in KWin's words.
    void read(quint64 run, QPoint position, std::optional<zwirl::ClickSample> colour,
              const QString& failure);

private:
    std::optional<ClickSample> capture(QPoint position, QString& failure);
};

} // namespace zwirl
