// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "capture/ClickSource.h"

#include <vector>

namespace zwirl {

// Chosen again at each start: the first kind of source that this session offers and that
// starts. A compositor's source that cannot start says why itself; a Wayland desktop without one
// gets what XWayland shows, and the user is told so.
class SessionClickSource : public ClickSource {
    Q_OBJECT
public:
    explicit SessionClickSource(QObject* parent = nullptr);
    ~SessionClickSource() override;

    bool start() override;
    void stop() override;
    void clearLeftovers() override;
    void setUp() override;
    void checkSetUp() override;

private:
    // Created when first needed, kept for later runs.
    ClickSource& backend(std::size_t kind);
    bool startFrom(std::size_t firstKind);
    void forEachCompositorSource(void (ClickSource::*call)());

    std::vector<std::unique_ptr<ClickSource>> m_backends;
    ClickSource* m_active = nullptr;
    // Between start and stop, even while no source records.
    bool m_running = false;
    // The source whose set-up the user was last offered.
    ClickSource* m_offering = nullptr;
};

} // namespace zwirl
