// SPDX-License-Identifier: GPL-3.0-or-later
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
        ClickSource* source = slot.get();
        connect(source, &ClickSource::setUpOffered, this, [this, source](auto&&... offer) {
            m_offering = source;
            Q_EMIT setUpOffered(offer...);
        });
        // A compositor that turns a run down after all: the next kind takes the run over.
        connect(source, &ClickSource::failed, this, [this, source, kind] {
            if (m_active == source && !startFrom(kind + 1, true))
                Q_EMIT failed();
        });
        // And one that can now, once set up, takes it back from a later kind.
        connect(source, &ClickSource::becameAvailable, this, [this, source, kind] {
            if (!m_running || m_active == source)
                return;
            if (m_active)
                m_active->stop();
            if (!startFrom(kind, false))
                Q_EMIT failed();
        });
    }
    return *slot;
}

bool SessionClickSource::start() {
    m_running = true;
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
    m_running = false;
    if (m_active)
        m_active->stop();
    m_active = nullptr;
}

void SessionClickSource::setUp() {
    if (m_offering)
        m_offering->setUp();
}

void SessionClickSource::checkSetUp() {
    forEachCompositorSource(&ClickSource::checkSetUp);
}

void SessionClickSource::clearLeftovers() {
    forEachCompositorSource(&ClickSource::clearLeftovers);
}

void SessionClickSource::forEachCompositorSource(void (ClickSource::*call)()) {
    const auto kinds = clickSourceKinds();
    for (std::size_t k = 0; k < kinds.size(); ++k)
        if (!kinds[k].needsX11Windows && kinds[k].availableHere())
            (backend(k).*call)();
}

} // namespace zwirl
