#include "capture/ClickSource.h"

#include "capture/SessionClickSource.h"

namespace zwirl {

std::unique_ptr<ClickSource> createClickSource(QObject* parent) {
    return std::make_unique<SessionClickSource>(parent);
}

bool clicksNeedX11Windows() {
    return SessionClickSource::waylandSession() && !SessionClickSource::gnomeDesktop();
}

} // namespace zwirl
