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
    static constexpr int kReminderIntervalMs = 5400 * 1000;

    explicit TrackingRun(QObject* parent = nullptr);

    // Starts the reminder and takes now as the run's start; clicks not yet taken stay.
    void begin();
    // Stops the reminder; the clicks stay until they are taken.
    void end();
    // Records one click; true when the run now holds the limit's number of clicks.
    bool add(const ClickSample& sample);
    // Hands the clicks over, with the start date and now as the end, and empties the recording.
    RecordedRun take();

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
