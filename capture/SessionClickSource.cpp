#include "capture/SessionClickSource.h"

#include "capture/ClickSourceKinds.h"

namespace zwirl {

SessionClickSource::SessionClickSource(QObject* parent)
    : ClickSource(parent), m_backends(clickSourceKinds().size()) {}

SessionClickSource::~SessionClickSource() {
    stop();
}

ClickSource& SessionClickSource::backend(std::size_t kind) {
    std::unique_ptr<ClickSource>& slot = m_backends[kind];
    if (!slot) {
        slot = clickSourceKinds()[kind].create();
        connect(slot.get(), &ClickSource::clicked, this, &ClickSource::clicked);
        connect(slot.get(), &ClickSource::notice, this, &ClickSource::notice);
        // A compositor that turns a run down after all: the next kind takes the run over.
        connect(slot.get(), &ClickSource::failed, this, [this, kind] {
            if (m_active == m_backends[kind].get() && !startFrom(kind + 1, true))
                Q_EMIT failed();
        });
    }
    return *slot;
}

bool SessionClickSource::start() {
    return m_active || startFrom(0, false);
}

bool SessionClickSource::startFrom(std::size_t first, bool compositorFailed) {
    m_active = nullptr;
    const auto kinds = clickSourceKinds();
    for (std::size_t k = first; k < kinds.size(); ++k) {
        if (!kinds[k].availableHere())
            continue;
        // Opened only now: on GNOME, a connection to the X server would start XWayland.
        ClickSource& source = backend(k);
        if (!source.start()) {
            compositorFailed = compositorFailed || !kinds[k].needsX11Windows;
            continue;
        }
        if (kinds[k].needsX11Windows && waylandSession() && !compositorFailed)
            Q_EMIT notice(QStringLiteral(
                "This desktop runs Wayland: only clicks in X11 applications can be recorded."));
        m_active = &source;
        return true;
    }
    return false;
}

void SessionClickSource::stop() {
    if (m_active)
        m_active->stop();
    m_active = nullptr;
}

void SessionClickSource::clearLeftovers() {
    const auto kinds = clickSourceKinds();
    for (std::size_t k = 0; k < kinds.size(); ++k)
        if (!kinds[k].needsX11Windows && kinds[k].availableHere())
            backend(k).clearLeftovers();
}

} // namespace zwirl
