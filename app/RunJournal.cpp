// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/RunJournal.h"

#include "app/AppLog.h"
#include "app/DurableFiles.h"
#include "app/JournalFormat.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zwirl {

using namespace durable;
using namespace journal;

namespace {

timespec timespecOf(const QDateTime& date) {
    const qint64 ms = date.toMSecsSinceEpoch();
    const qint64 seconds = ms / 1000 - (ms % 1000 < 0); // rounded down before 1970 too
    return {time_t(seconds), long(ms - seconds * 1000) * 1000000};
}

} // namespace

QString RunJournal::folderPath() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/zwirl");
}

RunJournal::RunJournal() : m_syncer([this] { syncLoop(); }) {}

RunJournal::~RunJournal() {
    close();
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_syncer.join();
}

bool RunJournal::open(const QDateTime& start) {
    close();
    const QString folder = folderPath();
    QDir().mkpath(folder);
    const QString path = QStringLiteral("%1/run-%2-%3.journal")
                             .arg(folder, start.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")))
                             .arg(::getpid());
    const int fd = createNew(path);
    // The lock tells a later launch that this journal's process is still alive.
    const Header header = headerFor(start);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || !writeAt(fd, &header, sizeof header, 0)) {
        qCWarning(lcApp) << "could not write the run journal" << path << std::strerror(errno);
        // Nothing of a run is in it (a full disk): no later launch is to find it.
        if (fd >= 0) {
            ::unlink(QFile::encodeName(path).constData());
            ::close(fd);
        }
        return false;
    }
    {
        std::lock_guard lock(m_mutex);
        m_fd = fd;
        m_created = true;
    }
    m_path = path;
    m_count = 0;
    m_dirty = true;
    m_wake.notify_one();
    return true;
}

bool RunJournal::append(const ClickSample& sample) {
    if (m_fd < 0)
        return false;
    const Record record = recordFor(sample, m_count);
    // At its own place: after a failed write the next click takes that place again.
    if (!writeAt(m_fd, &record, sizeof record, off_t(sizeof(Header) + m_count * sizeof record))) {
        qCWarning(lcApp) << "could not append to the run journal" << m_path << std::strerror(errno);
        return false;
    }
    ++m_count;
    m_dirty.store(true, std::memory_order_relaxed);
    return true;
}

QString RunJournal::close() {
    if (m_fd < 0)
        return {};
    {
        std::lock_guard lock(m_mutex);
        m_closing.push_back(std::exchange(m_fd, -1));
    }
    m_wake.notify_one();
    return std::exchange(m_path, {});
}

void RunJournal::syncLoop() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        const auto due = [this] { return m_stop || !m_closing.empty(); };
        if (m_fd < 0)
            m_wake.wait(lock, [&] { return due() || m_fd >= 0; });
        else
            m_wake.wait_for(lock, std::chrono::seconds(1), due);
        const int open = m_fd;
        const bool created = std::exchange(m_created, false);
        const std::vector<int> closing = std::exchange(m_closing, {});
        const bool stop = m_stop;
        lock.unlock();
        if (open >= 0 && m_dirty.exchange(false))
            ::fdatasync(open);
        for (const int fd : closing) {
            ::fdatasync(fd);
            ::close(fd);
        }
        // Once per journal: its name in the folder survives a power cut too.
        if (created)
            syncFolder(folderPath());
        lock.lock();
        if (stop && m_closing.empty())
            return;
    }
}

namespace {

// Writes a complete journal of `first` .. `last` of `samples` under a free name from
// `folder`/`stem`-partNNNNNN.journal, counting on from `part`; dated `end`. Its path, empty on a
// failure.
QString writeJournal(const QString& stem, int& part, const Header& header, const Samples& samples,
                     std::size_t first, std::size_t last, const QDateTime& end) {
    QByteArray data(reinterpret_cast<const char*>(&header), sizeof header);
    for (std::size_t i = first; i < last; ++i) {
        const Record record = recordFor(samples[i], quint32(i - first));
        data.append(reinterpret_cast<const char*>(&record), sizeof record);
    }
    // A name already taken, by anything, is passed over: nothing is written through it.
    int fd = -1;
    QString path;
    for (int tries = 0; fd < 0 && tries < 1000; ++tries) {
        path = QStringLiteral("%1-part%2.journal").arg(stem).arg(part++, 6, 10, QLatin1Char('0'));
        fd = createNew(path);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return {};
    const timespec times[2] = {{0, UTIME_OMIT}, timespecOf(end)};
    const bool ok = writeAt(fd, data.constData(), size_t(data.size()), 0) && ::fdatasync(fd) == 0 &&
                    (!end.isValid() || ::futimens(fd, times) == 0);
    ::close(fd);
    if (!ok)
        QFile::remove(path);
    return ok ? path : QString();
}

} // namespace

std::vector<RunJournal::Found> RunJournal::keep(const RecordedRun& run, std::size_t limit) {
    const QString folder = folderPath();
    QDir().mkpath(folder);
    const QString stem =
        QStringLiteral("%1/run-%2")
            .arg(folder, run.start.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")));
    const Header header = headerFor(run.start);
    std::vector<Found> written;
    int part = 0;
    for (std::size_t first = 0; first < run.samples.size(); first += limit) {
        const std::size_t last = std::min(first + limit, run.samples.size());
        // The journal's date is the run's end.
        const QString path = writeJournal(stem, part, header, run.samples, first, last, run.end);
        if (path.isEmpty()) {
            qCWarning(lcApp) << "could not write the run into journals in" << folder;
            for (const Found& found : written)
                QFile::remove(found.path);
            return {};
        }
        written.push_back({path,
                           {Samples(run.samples.begin() + qsizetype(first),
                                    run.samples.begin() + qsizetype(last)),
                            run.start, run.end},
                           false,
                           {}});
    }
    return written;
}

bool RunJournal::markSaved(const QString& path, int suffix, const QDateTime& end) {
    const quint32 savedAs = suffix > 0 ? kSavedMark | (quint32(suffix) & kSuffixBits) : 0;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    Header header;
    bool ok = fd >= 0 && readAt(fd, &header, sizeof header, 0);
    if (ok) {
        header = headerFor(QDateTime::fromMSecsSinceEpoch(header.startMs), savedAs);
        // The date is the run's end, which the next launch names the files from.
        const timespec times[2] = {{0, UTIME_OMIT}, timespecOf(end)};
        ok = writeAt(fd, &header, sizeof header, 0) && ::fdatasync(fd) == 0 &&
             (!end.isValid() || ::futimens(fd, times) == 0);
    }
    if (!ok)
        qCWarning(lcApp) << "could not mark the run journal" << path << "as saved"
                         << std::strerror(errno);
    if (fd >= 0)
        ::close(fd);
    return ok;
}

QString RunJournal::writeSavedMark(const QDateTime& start, const QDateTime& end, int suffix) {
    const QString folder = folderPath();
    QDir().mkpath(folder);
    int part = 0;
    const QString path = writeJournal(
        QStringLiteral("%1/run-%2-saved")
            .arg(folder, start.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"))),
        part, headerFor(start, kSavedMark | (quint32(suffix) & kSuffixBits)), {}, 0, 0, end);
    if (!path.isEmpty())
        syncFolder(folder);
    return path;
}

bool RunJournal::retire(const QString& path, bool damaged) {
    const QByteArray from = QFile::encodeName(path);
    const bool done =
        damaged ? renameFree(AT_FDCWD, from, from + ".damaged") : ::unlink(from.constData()) == 0;
    if (!done)
        qCWarning(lcApp) << "could not take the run journal" << path
                         << "out of its folder:" << std::strerror(errno);
    return done;
}

} // namespace zwirl
