#include "platform/DisplayCapture.h"

#include "platform/PlatformLog.h"
#include "platform/XConnection.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

#include <memory>

namespace {

struct MonitorsDeleter {
    void operator()(XRRMonitorInfo* monitors) const { XRRFreeMonitors(monitors); }
};
struct ImageDeleter {
    void operator()(XImage* image) const { XDestroyImage(image); }
};

bool hasRandrMonitors(Display* display) {
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    return XRRQueryExtension(display, &eventBase, &errorBase) &&
           XRRQueryVersion(display, &major, &minor) && (major > 1 || (major == 1 && minor >= 5));
}

// The primary monitor comes first, so that it wins where monitors overlap (mirrored outputs).
QList<QRect> monitorsOf(Display* display) {
    const Window root = DefaultRootWindow(display);
    QList<QRect> rects;
    if (hasRandrMonitors(display)) {
        int count = 0;
        std::unique_ptr<XRRMonitorInfo, MonitorsDeleter> monitors(
            XRRGetMonitors(display, root, True, &count));
        for (int i = 0; monitors && i < count; ++i) {
            const XRRMonitorInfo& m = monitors.get()[i];
            const QRect rect(m.x, m.y, m.width, m.height);
            if (m.primary)
                rects.prepend(rect);
            else
                rects.append(rect);
        }
    }
    if (rects.isEmpty()) {
        const int screen = DefaultScreen(display);
        rects.append(QRect(0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)));
    }
    return rects;
}

std::optional<QRect> monitorContaining(Display* display, QPoint point) {
    for (const QRect& rect : monitorsOf(display)) {
        if (rect.contains(point))
            return rect;
    }
    return std::nullopt;
}

// A component of a TrueColor pixel: the bits under `mask`, scaled so that all ones is 1.0.
double maskedComponent(unsigned long pixel, unsigned long mask) {
    if (mask == 0)
        return 0.0;
    int shift = 0;
    while (!((mask >> shift) & 1))
        ++shift;
    const unsigned long max = mask >> shift;
    return double((pixel & mask) >> shift) / double(max);
}

std::optional<DisplayCapture::Color> colorOfPixel(Display* display, unsigned long pixel) {
    const int screen = DefaultScreen(display);
    Visual* visual = DefaultVisual(display, screen);
    if (visual->c_class == TrueColor) {
        return DisplayCapture::Color{maskedComponent(pixel, visual->red_mask),
                                     maskedComponent(pixel, visual->green_mask),
                                     maskedComponent(pixel, visual->blue_mask)};
    }
    // Indexed visuals: the colour map says what the pixel value shows.
    XColor color{};
    color.pixel = pixel;
    XQueryColor(display, DefaultColormap(display, screen), &color);
    return DisplayCapture::Color{color.red / 65535.0, color.green / 65535.0, color.blue / 65535.0};
}

std::optional<unsigned long> readPixel(XConnection& connection, QPoint point) {
    Display* display = connection.display();
    std::unique_ptr<XImage, ImageDeleter> image;
    const bool ok = connection.withErrorsTrapped([&] {
        image.reset(XGetImage(display, DefaultRootWindow(display), point.x(), point.y(), 1, 1,
                              AllPlanes, ZPixmap));
    });
    if (!ok || !image)
        return std::nullopt;
    return XGetPixel(image.get(), 0, 0);
}

} // namespace

QList<QRect> DisplayCapture::displays() {
    std::lock_guard lock(XConnection::sharedMutex());
    XConnection* connection = XConnection::shared();
    return connection ? monitorsOf(connection->display()) : QList<QRect>();
}

std::optional<QRect> DisplayCapture::displayContainingPoint(QPoint point) {
    std::lock_guard lock(XConnection::sharedMutex());
    XConnection* connection = XConnection::shared();
    if (!connection)
        return std::nullopt;
    return monitorContaining(connection->display(), point);
}

std::optional<DisplayCapture::Color> DisplayCapture::pixelColorAt(QPoint point) {
    std::lock_guard lock(XConnection::sharedMutex());
    XConnection* connection = XConnection::shared();
    // Reading outside the root window is an X error; a point between monitors shows nothing.
    if (!connection || !monitorContaining(connection->display(), point))
        return std::nullopt;
    const std::optional<unsigned long> pixel = readPixel(*connection, point);
    if (!pixel) {
        qCWarning(lcPlatform) << "Cannot read the screen pixel at" << point;
        return std::nullopt;
    }
    return colorOfPixel(connection->display(), *pixel);
}
