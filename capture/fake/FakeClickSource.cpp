#include "capture/fake/FakeClickSource.h"

namespace zwirl {

bool FakeClickSource::start() {
    m_started = true;
    return true;
}

void FakeClickSource::stop() {
    m_started = false;
}

std::optional<ClickSample> FakeClickSource::colourAt(QPoint globalPosition) {
    return m_colours.value(globalPosition);
}

void FakeClickSource::click(QPoint position, std::optional<ClickSample> colour) {
    m_colours.insert(position, colour);
    if (m_started)
        Q_EMIT clicked(position, colour);
}

} // namespace zwirl
