#pragma once

#include <QImage>
#include <QString>

namespace zwirl {

// The picture saved beside a run's audio file: the samples picture under a 100-point white
// header that holds the export logo, the run's range text and count text in "Lato Light" at
// 12 points, and a light grey separator line.
class ExportPicture {
public:
    ExportPicture() = delete;

    static constexpr int kHeaderHeight = 100;

    // As wide as `samplesPicture`, 100 points higher, opaque, at 72 dots per inch (one point is
    // one pixel). Safe from any thread.
    static QImage draw(const QImage& samplesPicture, const QString& rangeText,
                       const QString& countText);
};

} // namespace zwirl
