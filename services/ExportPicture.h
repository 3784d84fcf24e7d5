// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QString>

namespace zwirl {

// The PNG beside a run's audio: the samples picture under a header of logo, texts and a line.
class ExportPicture {
public:
    ExportPicture() = delete;

    // At 72 dots per inch (one point is one pixel). Safe from any thread.
    static QImage draw(const QImage& samplesPicture, const QString& rangeText,
                       const QString& countText);
};

} // namespace zwirl
