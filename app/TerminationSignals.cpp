// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TerminationSignals.h"

#include "app/AppLog.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace zwirl {

namespace {

int g_pipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Only async-signal-safe work here: the signal number goes down the pipe.
void writeSignalToPipe(int signalNumber) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qCWarning(lcApp) << "cannot watch termination signals";
        return;
    }
    connect(new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this),
            &QSocketNotifier::activated, this, [this] {
                unsigned char byte = 0;
                while (::read(g_pipe[0], &byte, 1) == 1)
                    Q_EMIT terminationRequested(byte);
            });
    struct sigaction action = {};
    action.sa_handler = writeSignalToPipe;
    action.sa_flags = SA_RESTART;
    for (int s : kSignals)
        sigaction(s, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    for (int s : kSignals)
        std::signal(s, SIG_DFL);
    qDeleteAll(findChildren<QSocketNotifier*>());
    for (int& fd : g_pipe)
        if (fd >= 0)
            ::close(std::exchange(fd, -1));
}

} // namespace zwirl
