// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "capture/ClickSource.h"

#include <vector>

namespace zwirl {

struct ClickSourceKind;

// The click source of this login session, chosen again at each start: the first kind of
// clickSourceKinds() that this session offers and that starts. A compositor's source that
// cannot start says why itself; a Wayland desktop with none gets what XWayland shows, and the
// user is told so.
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
    // The sources of this session's compositor (none on X11), created when first needed.
    void forEachCompositorSource(void (ClickSource::*call)());
    // Created when first needed, kept for later runs.
    ClickSource& backend(std::size_t kind);
    // Starts the first kind from `first` on that this session offers and that starts.
    bool startFrom(std::size_t first, bool compositorFailed);

    std::vector<std::unique_ptr<ClickSource>> m_backends;
    ClickSource* m_active = nullptr;
    // Between start and stop, even while no source records.
    bool m_running = false;
    // The source whose set-up the user was last offered.
    ClickSource* m_offering = nullptr;
};

} // namespace zwirl
