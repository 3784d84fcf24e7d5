// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/gnome/GnomeClickSource.h"
#include "capture/kde/KdeClickSource.h"
#include "capture/x11/X11ClickSource.h"

namespace zwirl {
namespace {

bool waylandSession() {
    return qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") ||
           qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

template <class Source> std::unique_ptr<ClickSource> make() {
    return std::make_unique<Source>();
}

// The maker of the source of the Wayland desktop whose compositor reports clicks to zwirl, GNOME
// preferred; null elsewhere.
auto sessionCompositor() -> std::unique_ptr<ClickSource> (*)() {
    const QStringList desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':');
    if (!waylandSession())
        return nullptr;
    if (desktops.contains(QLatin1String("GNOME"), Qt::CaseInsensitive))
        return make<GnomeClickSource>;
    if (desktops.contains(QLatin1String("KDE"), Qt::CaseInsensitive))
        return make<KdeClickSource>;
    return nullptr;
}

// Chosen at each start: the compositor's source where there is one, else (or failing) X11's.
class SessionClickSource : public ClickSource {
public:
    using ClickSource::ClickSource;
    ~SessionClickSource() override { stop(); }

    bool start() override {
        m_running = true;
        return m_active || startCompositor() || startX11();
    }
    void stop() override {
        m_running = false;
        if (ClickSource* active = std::exchange(m_active, nullptr))
            active->stop();
    }
    void clearLeftovers() override { forCompositor(&ClickSource::clearLeftovers); }
    void setUp() override { forCompositor(&ClickSource::setUp); }
    void checkSetUp() override { forCompositor(&ClickSource::checkSetUp); }

private:
    // Created when first needed and kept for later runs.
    ClickSource* compositor() {
        const auto makeSource = sessionCompositor();
        if (m_compositor || !makeSource)
            return m_compositor.get();
        m_compositor = makeSource();
        ClickSource* source = m_compositor.get();
        connect(source, &ClickSource::clicked, this, &ClickSource::clicked);
        connect(source, &ClickSource::notice, this, &ClickSource::notice);
        connect(source, &ClickSource::setUpOffered, this, &ClickSource::setUpOffered);
        // A compositor that turns a run down after all hands it to the X server.
        connect(source, &ClickSource::failed, this, [this, source] {
            if (m_active == source && !startX11())
                Q_EMIT failed();
        });
        // And one that can now, once set up, takes it back.
        connect(source, &ClickSource::becameAvailable, this, [this, source] {
            if (!m_running || m_active == source)
                return;
            if (m_active)
                m_active->stop();
            if (!startCompositor() && !startX11())
                Q_EMIT failed();
        });
        return source;
    }

    void forCompositor(void (ClickSource::*call)()) {
        if (ClickSource* source = compositor())
            (source->*call)();
    }
    bool startCompositor() {
        ClickSource* source = compositor();
        m_active = source && source->start() ? source : nullptr;
        return m_active;
    }
    // Opened only now: on GNOME, a connection to the X server would start XWayland.
    bool startX11() {
        if (!m_x11) {
            m_x11 = std::make_unique<X11ClickSource>();
            connect(m_x11.get(), &ClickSource::clicked, this, &ClickSource::clicked);
        }
        m_active = m_x11->start() ? m_x11.get() : nullptr;
        // A compositor's source, where there is one, has told the user itself.
        if (m_active && clicksNeedX11Windows())
            Q_EMIT notice(QStringLiteral(
                "This desktop runs Wayland: only clicks in X11 applications can be recorded."));
        return m_active;
    }

    std::unique_ptr<ClickSource> m_compositor;
    std::unique_ptr<ClickSource> m_x11;
    ClickSource* m_active = nullptr;
    // Between start and stop, even while no source records.
    bool m_running = false;
};

} // namespace

std::unique_ptr<ClickSource> createClickSource() {
    return std::make_unique<SessionClickSource>();
}

bool clicksNeedX11Windows() {
    return waylandSession() && !sessionCompositor();
}

} // namespace zwirl
