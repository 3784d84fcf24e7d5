// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "capture/ClickSource.h"

namespace zwirl {

// Chosen again at each start: the compositor's source where zwirl can ask the compositor, else
// (or should it not start) what the X server shows, on Wayland what XWayland does.
class SessionClickSource : public ClickSource {
    Q_OBJECT
public:
    using ClickSource::ClickSource;
    ~SessionClickSource() override;

    bool start() override;
    void stop() override;
    void clearLeftovers() override { forCompositor(&ClickSource::clearLeftovers); }
    void setUp() override { forCompositor(&ClickSource::setUp); }
    void checkSetUp() override { forCompositor(&ClickSource::checkSetUp); }

private:
    // Each source is created when first needed and kept for later runs.
    ClickSource* compositor();
    void forCompositor(void (ClickSource::*call)());
    bool startCompositor();
    bool startX11();

    std::unique_ptr<ClickSource> m_compositor;
    std::unique_ptr<ClickSource> m_x11;
    ClickSource* m_active = nullptr;
    // Between start and stop, even while no source records.
    bool m_running = false;
};

} // namespace zwirl
