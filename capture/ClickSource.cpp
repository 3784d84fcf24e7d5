#include "capture/ClickSource.h"

#include "capture/x11/X11ClickSource.h"

namespace zwirl {

std::unique_ptr<ClickSource> createClickSource(QObject* parent) {
    // X11 and XWayland sessions; without an X server the source warns and never reports.
    return std::make_unique<X11ClickSource>(parent);
}

} // namespace zwirl
