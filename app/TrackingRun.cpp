// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TrackingRun.h"

namespace zwirl {

TrackingRun::TrackingRun(QObject* parent) : QObject(parent) {
    m_reminder.setInterval(kReminderIntervalMs);
    connect(&m_reminder, &QTimer::timeout, this, &TrackingRun::reminderDue);
}

void TrackingRun::begin() {
    m_reminder.start();
    m_startDate = QDateTime::currentDateTime();
}

void TrackingRun::end() {
    m_reminder.stop();
}

bool TrackingRun::add(const ClickSample& sample) {
    m_samples.push_back(sample);
    return m_samples.size() >= std::size_t(kClickLimit);
}

RecordedRun TrackingRun::take() {
    return {std::exchange(m_samples, {}), m_startDate, QDateTime::currentDateTime()};
}

} // namespace zwirl
