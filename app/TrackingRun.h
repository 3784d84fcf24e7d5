// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/RunStore.h"

#include <QObject>
#include <QTimer>

namespace zwirl {

// The clicks of a tracking run, from its start until the run is handed over to be saved:
// the click limit, the 90-minute reminder and the date the run began.
class TrackingRun : public QObject {
    Q_OBJECT
public:
    static constexpr int kClickLimit = 9999;

    explicit TrackingRun(QObject* parent = nullptr) : QObject(parent) {
        m_reminder.setInterval(90 * 60 * 1000);
        connect(&m_reminder, &QTimer::timeout, this, &TrackingRun::reminderDue);
    }

    // Clicks not yet taken stay.
    void begin() {
        m_reminder.start();
        m_startDate = QDateTime::currentDateTime();
    }
    void end() { m_reminder.stop(); }
    // True when the run now holds the limit's number of clicks.
    bool add(const ClickSample& sample) {
        m_samples.push_back(sample);
        return m_samples.size() >= std::size_t(kClickLimit);
    }
    // Hands the clicks over, ended now, and empties the recording.
    RecordedRun take() {
        return {std::exchange(m_samples, {}), m_startDate, QDateTime::currentDateTime()};
    }

    const Samples& samples() const { return m_samples; }
    QDateTime startDate() const { return m_startDate; }

Q_SIGNALS:
    void reminderDue();

private:
    Samples m_samples;
    QDateTime m_startDate;
    QTimer m_reminder;
};

} // namespace zwirl
