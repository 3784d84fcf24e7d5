// SPDX-License-Identifier: GPL-3.0-or-later
#include "CompositorIdle.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QThread>

#include <unistd.h>

#include <cstdio>

namespace bench {
namespace {

// User and system time of a process so far, in seconds.
double cpuSeconds(uint pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1.0;
    const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
    // After the name: state is field 3, utime 14 and stime 15 of the whole line.
    return (fields.value(12).toDouble() + fields.value(13).toDouble()) /
           double(sysconf(_SC_CLK_TCK));
}

} // namespace

bool takeZwirlsName() {
    if (QDBusConnection::sessionBus().registerService(QStringLiteral("de.tolvarek.zwirl")))
        return true;
    std::fprintf(stderr, "cannot take zwirl's name on the session bus\n");
    return false;
}

int compositorIdle(zwirl::ClickSource& source, const QString& compositorName, int seconds) {
    const uint pid = QDBusConnection::sessionBus().interface()->servicePid(compositorName);
    const QByteArray name = compositorName.toUtf8();
    const auto measure = [&](const char* what) {
        const double before = cpuSeconds(pid);
        QThread::sleep(ulong(seconds));
        const double used = cpuSeconds(pid) - before;
        std::printf("%s %s: %.2f s CPU in %d s (%.2f%%)\n", name.constData(), what, used, seconds,
                    100.0 * used / seconds);
        return used;
    };
    const double quiet = measure("with no run");
    if (!source.start())
        return 1;
    const double watching = measure("with a run open");
    source.stop();
    std::printf("extra CPU while a run is open: %.2f%% of one core\n",
                100.0 * (watching - quiet) / seconds);
    return 0;
}

} // namespace bench
