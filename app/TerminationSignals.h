// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

namespace zwirl {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the main thread, so that the
// application quits through its normal path instead of dying mid-way.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

Q_SIGNALS:
    void terminationRequested(int signalNumber);
};

} // namespace zwirl
