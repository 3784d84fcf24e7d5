// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/ClickSample.h"

#include <QImage>
#include <QSizeF>
#include <QString>

namespace zwirl {

// Stateless helpers: notifications, random numbers, custom icons and the samples picture.
class DROVHelper {
public:
    DROVHelper() = delete;

    static float randomFloatBetween(float a, float b);
    static bool setIconForPath(const QString& path);
    // A null image removes the custom icon; false when the file is missing or the file
    // manager's metadata store cannot hold the icon.
    static bool setIconForPath(const QString& path, const QImage& image);
    // 512 x 512 ARGB32 premultiplied, transparent where nothing is painted, one opaque square
    // per sample in click order from the lower left, optionally with the logo laid over the
    // painted squares. Safe from any thread.
    static QImage iconImageForSamples(const Samples& samples, bool watermark);
    // The logo laid over a samples picture drawn without it, without painting it again.
    static QImage watermarked(QImage picture);
    static QSizeF size(QSizeF size, float scale);
    // From any thread; never waits for the notification server.
    static void notify(const QString& message);
};

// Side of the squares for n squares in rows on a w x h canvas; 0 when they cannot fit.
int tileSideForCount(int w, int h, int n);

} // namespace zwirl
