// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/ClickSample.h"
#include "services/Notifications.h"

#include <QImage>
#include <QSizeF>
#include <QString>

namespace zwirl {

// Stateless helpers: notifications, random numbers, custom icons and the samples picture.
class DROVHelper {
public:
    DROVHelper() = delete;

    static float randomFloatBetween(float a, float b);
    static bool setIconForPath(const QString& path) {
        return setIconForPath(path, QImage(QStringLiteral(":/images/zwirl.png")));
    }
    // A PNG under $XDG_DATA_HOME/zwirl/icons named by the file's gvfs `metadata::custom-icon`,
    // as GNOME's file managers show it. A null image removes it; false without a metadata store.
    static bool setIconForPath(const QString& path, const QImage& image);
    // 512 x 512, transparent where nothing is painted, one opaque square per sample in click
    // order from the lower left, optionally with the logo over the squares. Any thread.
    static QImage iconImageForSamples(const Samples& samples, bool watermark);
    // The logo laid over a samples picture drawn without it.
    static QImage watermarked(QImage picture);
    static QSizeF size(QSizeF size, float scale) { return size * double(scale); }
    // From any thread; never waits for the notification server.
    static void notify(const QString& message) { Notifications::deliver(message); }
};

// Side of the squares for n squares in rows on a w x h canvas; 0 when they cannot fit.
int tileSideForCount(int w, int h, int n);

} // namespace zwirl
