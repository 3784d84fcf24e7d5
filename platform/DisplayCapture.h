#pragma once

#include <QList>
#include <QPoint>
#include <QRect>

#include <optional>

// The screens of the X display and single pixels read from them. Points and rectangles are in
// X11 root-window pixels, origin at the top left of the whole desktop. Safe from any thread.
class DisplayCapture {
public:
    // A pixel colour, each component 0.0 to 1.0 as the screen stores it (8-bit channels give
    // byte / 255.0), without colour-space conversion.
    struct Color {
        double red = 0.0;
        double green = 0.0;
        double blue = 0.0;
    };

    // The monitors of the desktop (XRandR), or the whole root window when the server reports
    // none. Empty without an X server.
    static QList<QRect> displays();
    // The monitor that contains the point (the primary one where monitors overlap); nothing
    // for a point on no monitor.
    static std::optional<QRect> displayContainingPoint(QPoint point);
    // The colour of the one pixel at the point; nothing when the point is on no monitor or the
    // capture fails.
    static std::optional<Color> pixelColorAt(QPoint point);
};
