#pragma once

#include "capture/ClickSource.h"

#include <QHash>

namespace zwirl {

// A click source driven by the test that owns it: `click` reports a click while started.
class FakeClickSource : public ClickSource {
    Q_OBJECT
public:
    using ClickSource::ClickSource;

    bool start() override;
    void stop() override;
    // The colour of the last click at that point, if any.
    std::optional<ClickSample> colourAt(QPoint globalPosition) override;

    bool isStarted() const { return m_started; }
    // Emits `clicked` when started; ignored otherwise, as a stopped source sees no clicks.
    void click(QPoint position, std::optional<ClickSample> colour);

private:
    bool m_started = false;
    QHash<QPoint, std::optional<ClickSample>> m_colours;
};

} // namespace zwirl
