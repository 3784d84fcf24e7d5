// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "capture/ClickSource.h"

namespace zwirl {

// A click source driven by a test: `click` reports a click while started, as a real one would.
class FakeClickSource : public ClickSource {
public:
    using ClickSource::ClickSource;

    bool start() override { return m_started = true; }
    void stop() override { m_started = false; }
    void click(QPoint position, std::optional<ClickSample> colour) {
        if (m_started)
            Q_EMIT clicked(position, colour);
    }

private:
    bool m_started = false;
};

} // namespace zwirl
