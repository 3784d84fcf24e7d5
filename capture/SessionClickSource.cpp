#include "capture/SessionClickSource.h"

#include "capture/gnome/GnomeClickSource.h"
#include "capture/x11/X11ClickSource.h"

namespace zwirl {
bool SessionClickSource::waylandSession() {
    return qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") ||
           qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

bool SessionClickSource::gnomeDesktop() {
    return qEnvironmentVariable("XDG_CURRENT_DESKTOP")
        .split(u':')
        .contains(QLatin1String("GNOME"), Qt::CaseInsensitive);
}

SessionClickSource::~SessionClickSource() {
    stop();
}

template <class Backend>
ClickSource& SessionClickSource::backend(std::unique_ptr<ClickSource>& slot) {
    if (!slot) {
        slot = std::make_unique<Backend>();
        connect(slot.get(), &ClickSource::clicked, this, &ClickSource::clicked);
    }
    return *slot;
}

bool SessionClickSource::start() {
    if (m_active)
        return true;
    if (waylandSession() && gnomeDesktop()) {
        ClickSource& gnome = backend<GnomeClickSource>(m_gnome);
        if (gnome.start()) {
            m_active = &gnome;
            return true;
        }
        if (!m_toldAboutExtension)
            Q_EMIT notice(QStringLiteral("To record clicks in every application, enable zwirl's "
                                         "GNOME Shell extension: gnome-extensions enable %1")
                              .arg(GnomeClickSource::kExtensionUuid));
        m_toldAboutExtension = true;
    } else if (waylandSession()) {
        Q_EMIT notice(QStringLiteral(
            "This desktop runs Wayland: only clicks in X11 applications can be recorded."));
    }
    // Opened only now: on GNOME, a connection would start XWayland.
    ClickSource& x11 = backend<X11ClickSource>(m_x11);
    if (!x11.start())
        return false;
    m_active = &x11;
    return true;
}

void SessionClickSource::stop() {
    if (m_active)
        m_active->stop();
    m_active = nullptr;
}

std::optional<ClickSample> SessionClickSource::colourAt(QPoint globalPosition) {
    return m_active ? m_active->colourAt(globalPosition) : std::nullopt;
}

} // namespace zwirl
