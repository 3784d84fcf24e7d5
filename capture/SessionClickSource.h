#pragma once

#include "capture/ClickSource.h"

namespace zwirl {

// The click source of this login session, chosen again at each start: X11 in an X11 session;
// on GNOME under Wayland, zwirl's shell extension when it answers, else (after telling how to
// enable it, once) what XWayland shows; on other Wayland desktops XWayland, with a notice.
class SessionClickSource : public ClickSource {
    Q_OBJECT
public:
    using ClickSource::ClickSource;
    ~SessionClickSource() override;

    bool start() override;
    void stop() override;
    std::optional<ClickSample> colourAt(QPoint globalPosition) override;

    static bool waylandSession();
    static bool gnomeDesktop();

private:
    // Created when first chosen, kept for later runs.
    template <class Backend> ClickSource& backend(std::unique_ptr<ClickSource>& slot);

    std::unique_ptr<ClickSource> m_x11;
    std::unique_ptr<ClickSource> m_gnome;
    ClickSource* m_active = nullptr;
    bool m_toldAboutExtension = false;
};

} // namespace zwirl
