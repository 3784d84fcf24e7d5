// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/RunJournal.h"

#include "app/AppLog.h"
#include "app/DurableFiles.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace zwirl {

using namespace durable;

namespace {

constexpr quint32 kVersion = 1;
constexpr char kMagic[8] = {'Z', 'W', 'I', 'R', 'L', 'R', 'U', 'N'};

// Without padding, in the machine's byte order: the file never leaves it.
struct Header {
    char magic[8];
    quint32 version;
    quint32 recordSize;
    qint64 startMs;
    quint32 savedAs;  // kSavedMark and the suffix of the files being named; 0 before
    quint32 checksum; // of the bytes before it
};
struct Record {
    double rgb[3];
    quint32 index; // the click's place in the run: a stale or shifted record does not fit
    quint32 checksum;
};
static_assert(sizeof(Header) == 32 && sizeof(Record) == 32);
constexpr quint32 kSavedMark = 0xA5000000, kSuffixBits = 0x00FFFFFF;

// Local disk I/O is not interrupted by signals: a short count is a failure, and a read fails at
// the file's end.
bool writeAt(int fd, const void* data, size_t size, off_t offset) {
    return ::pwrite(fd, data, size, offset) == ssize_t(size);
}
bool readAt(int fd, void* data, size_t size, off_t offset) {
    return ::pread(fd, data, size, offset) == ssize_t(size);
}

// Never over a file or link that is there; -1 (with errno) when it cannot.
int createNew(const QString& path) {
    return ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                  0600);
}

// Renames a file of the folder `folder` (a descriptor, or AT_FDCWD) to a name no other file has.
bool renameFree(int folder, const QByteArray& from, const QByteArray& to) {
    if (::renameat2(folder, from.constData(), folder, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    // A file system that cannot check that for itself.
    struct stat taken;
    return errno == EINVAL && ::fstatat(folder, to.constData(), &taken, AT_SYMLINK_NOFOLLOW) != 0 &&
           errno == ENOENT && ::renameat(folder, from.constData(), folder, to.constData()) == 0;
}

template <typename T> quint32 checksumOf(const T& block) {
    return qChecksum(QByteArrayView(reinterpret_cast<const char*>(&block), offsetof(T, checksum)));
}

Header headerFor(qint64 startMs, quint32 savedAs = 0) {
    Header header{{}, kVersion, sizeof(Record), startMs, savedAs, 0};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.checksum = checksumOf(header);
    return header;
}

Record recordFor(const ClickSample& sample, quint32 index) {
    Record record{{sample[0], sample[1], sample[2]}, index, 0};
    record.checksum = checksumOf(record);
    return record;
}

// Dates a journal with its run's end; an invalid date leaves the date alone.
bool setEnd(int fd, const QDateTime& end) {
    const qint64 ms = end.toMSecsSinceEpoch();
    const qint64 seconds = ms / 1000 - (ms % 1000 < 0); // rounded down before 1970 too
    const timespec times[2] = {{0, UTIME_OMIT},
                               {time_t(seconds), long(ms - seconds * 1000) * 1000000}};
    return !end.isValid() || ::futimens(fd, times) == 0;
}

QString pathFor(const QDateTime& start) {
    return QStringLiteral("%1/run-%2-%3.journal")
        .arg(RunJournal::folderPath(), start.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")))
        .arg(::getpid());
}

// Written and synced under another name first: a reader finds it whole or not at all.
bool writeWhole(const RecordedRun& run, const QString& path) {
    const Header header = headerFor(run.start.toMSecsSinceEpoch());
    QByteArray data(reinterpret_cast<const char*>(&header), sizeof header);
    for (std::size_t i = 0; i < run.samples.size(); ++i) {
        const Record record = recordFor(run.samples[i], quint32(i));
        data.append(reinterpret_cast<const char*>(&record), sizeof record);
    }
    const QString part = path + QStringLiteral(".part"); // not a journal's name: never read
    QFile::remove(part);
    const int fd = createNew(part);
    bool ok =
        fd >= 0 && writeAt(fd, data.constData(), size_t(data.size()), 0) && setEnd(fd, run.end);
    if (fd >= 0)
        ::close(fd);
    ok = ok && commit(part, path);
    if (!ok) {
        qCWarning(lcApp) << "could not write the run journal" << path << std::strerror(errno);
        QFile::remove(part);
    }
    return ok;
}

} // namespace

QString RunJournal::folderPath() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/zwirl");
}

RunJournal::RunJournal() {
    m_syncTimer.setInterval(1000);
    QObject::connect(&m_syncTimer, &QTimer::timeout, [this] {
        if (std::exchange(m_dirty, false))
            sync([fd = m_fd] { ::fdatasync(fd); });
    });
}

void RunJournal::sync(std::function<void()> work) {
    try {
        m_lastSync =
            std::async(std::launch::async, [before = std::move(m_lastSync), work]() mutable {
                // Let go once ended, so a sync holds no chain of every sync before it.
                if (before.valid())
                    std::exchange(before, {}).wait();
                work();
            });
    } catch (const std::system_error&) {
        work(); // no thread to be had; the sync before has ended with the task that held it
    }
}

bool RunJournal::open(const QDateTime& start) {
    close();
    QDir().mkpath(folderPath());
    const QString path = pathFor(start);
    const int fd = createNew(path);
    // The lock tells a later launch that this journal's process is alive.
    const Header header = headerFor(start.toMSecsSinceEpoch());
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || !writeAt(fd, &header, sizeof header, 0)) {
        qCWarning(lcApp) << "could not write the run journal" << path << std::strerror(errno);
        if (fd >= 0) { // nothing of a run is in it: no later launch is to find it
            ::unlink(QFile::encodeName(path).constData());
            ::close(fd);
        }
        return false;
    }
    m_fd = fd;
    m_path = path;
    m_count = 0;
    m_syncTimer.start();
    // The folder too, once per journal: its name survives a power cut.
    sync([fd] {
        ::fdatasync(fd);
        syncFolder(folderPath());
    });
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
    m_dirty = true;
    return true;
}

QString RunJournal::close() {
    if (m_fd < 0)
        return {};
    m_syncTimer.stop();
    m_dirty = false;
    sync([fd = std::exchange(m_fd, -1)] {
        ::fdatasync(fd);
        ::close(fd);
    });
    return std::exchange(m_path, {});
}

QString RunJournal::write(const RecordedRun& run) {
    QDir().mkpath(folderPath());
    const QString path = pathFor(run.start);
    const bool written = writeWhole(run, path);
    syncFolder(folderPath());
    return written ? path : QString();
}

std::vector<RunJournal::Found> RunJournal::split(Found found, std::size_t limit) {
    const Samples& samples = found.run.samples;
    if (samples.size() <= limit)
        return {std::move(found)};
    // Names from the journal's own: a split begun again writes the same files.
    const QString stem = found.path.chopped(int(sizeof ".journal") - 1);
    std::vector<Found> parts;
    for (std::size_t first = 0; first < samples.size(); first += limit) {
        const auto begin = samples.begin() + qsizetype(first);
        const auto end = begin + qsizetype(std::min(limit, samples.size() - first));
        Found part{QStringLiteral("%1-part%2.journal")
                       .arg(stem)
                       .arg(qulonglong(parts.size()), 6, 10, QLatin1Char('0')),
                   {Samples(begin, end), found.run.start, found.run.end}};
        if (!writeWhole(part.run, part.path))
            break;
        parts.push_back(std::move(part));
    }
    syncFolder(folderPath());
    if (parts.size() * limit >= samples.size() && retire(found.path, found.damaged))
        return parts;
    for (const Found& part : parts)
        QFile::remove(part.path);
    return {std::move(found)};
}

bool RunJournal::markSaved(const QString& path, int suffix, const QDateTime& end) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    const quint32 savedAs = suffix > 0 ? kSavedMark | (quint32(suffix) & kSuffixBits) : 0;
    Header header{};
    bool ok = fd >= 0 && readAt(fd, &header, sizeof header, 0);
    header = headerFor(header.startMs, savedAs);
    ok = ok && writeAt(fd, &header, sizeof header, 0) && ::fdatasync(fd) == 0 && setEnd(fd, end);
    if (!ok)
        qCWarning(lcApp) << "could not mark the run journal" << path << "as saved"
                         << std::strerror(errno);
    if (fd >= 0)
        ::close(fd);
    return ok;
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

namespace {

// Every record that is whole, at its place, intact and a valid click; any other marks the
// journal damaged.
void readRecords(int fd, qint64 size, RunJournal::Found& found, std::size_t& invalid) {
    const qint64 whole = (size - qint64(sizeof(Header))) / qint64(sizeof(Record));
    const quint32 count = quint32(std::min<qint64>(whole, RunJournal::kMaxRecords));
    std::vector<Record> records(count);
    found.damaged = whole > count;
    if (!readAt(fd, records.data(), count * sizeof(Record), off_t(sizeof(Header)))) {
        found.damaged = true; // shorter than it was a moment ago
        return;
    }
    found.run.samples.reserve(count);
    for (quint32 i = 0; i < count; ++i) {
        const Record& record = records[i];
        const ClickSample sample{record.rgb[0], record.rgb[1], record.rgb[2]};
        const bool fits = record.index == i && record.checksum == checksumOf(record);
        if (fits && isValidSample(sample))
            found.run.samples.push_back(sample);
        else
            found.damaged = true;
        invalid += fits && !isValidSample(sample);
    }
}

} // namespace

RunJournal::Scan RunJournal::leftBehind() {
    Scan scan;
    const QString path = folderPath();
    DIR* const listing = ::opendir(QFile::encodeName(path).constData());
    if (!listing)
        return scan;
    const int folder = ::dirfd(listing);
    // The names first: the loop renames entries.
    QList<QByteArray> names;
    while (const dirent* entry = ::readdir(listing))
        if (const QByteArray name(entry->d_name); name.endsWith(".journal"))
            names << name;
    std::size_t invalid = 0;
    for (QByteArray name : names) {
        const auto setAside = [&](const QString& why) {
            qCWarning(lcApp).noquote() << "setting aside the run journal"
                                       << path + u'/' + QFile::decodeName(name) << "with" << why;
            if (!renameFree(folder, name, name + ".unreadable"))
                qCWarning(lcApp) << "could not rename it:" << std::strerror(errno);
            ++scan.setAside;
        };
        // A name that does not survive decoding would not be found again: it takes one that does.
        if (const QByteArray shown = QFile::encodeName(QFile::decodeName(name)); shown != name) {
            if (!renameFree(folder, name, shown)) {
                setAside(QStringLiteral("a name that cannot be shown"));
                continue;
            }
            name = shown;
        }
        // Never through a link, and a FIFO does not keep the open waiting.
        const int fd =
            ::openat(folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat file {};
        Header header;
        if (fd < 0) {
            setAside(errno == ELOOP ? QStringLiteral("a link")
                                    : QString::fromLocal8Bit(std::strerror(errno)));
        } else if (::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode)) {
            setAside(QStringLiteral("not a regular file"));
        } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            // A running zwirl's.
        } else if (file.st_size == 0) {
            ::unlinkat(folder, name.constData(), 0);
        } else if (!readAt(fd, &header, sizeof header, 0)) {
            setAside(QStringLiteral("no complete header"));
        } else if (std::memcmp(header.magic, kMagic, sizeof kMagic) != 0) {
            setAside(QStringLiteral("not a run journal"));
        } else if (header.version > kVersion) {
            setAside(QStringLiteral("written by a newer zwirl (format %1)").arg(header.version));
        } else if (header.version != kVersion || header.recordSize != sizeof(Record) ||
                   header.checksum != checksumOf(header)) {
            setAside(QStringLiteral("a damaged header"));
        } else {
            const QDateTime end = QDateTime::fromMSecsSinceEpoch(
                qint64(file.st_mtim.tv_sec) * 1000 + file.st_mtim.tv_nsec / 1000000);
            Found found{path + u'/' + QFile::decodeName(name),
                        {{}, QDateTime::fromMSecsSinceEpoch(header.startMs), end}};
            if ((header.savedAs & ~kSuffixBits) == kSavedMark)
                found.savedAs = int(header.savedAs & kSuffixBits);
            readRecords(fd, file.st_size, found, invalid);
            if (found.damaged)
                qCWarning(lcApp) << "the run journal" << found.path << "holds damaged records; kept"
                                 << found.run.samples.size() << "clicks";
            if (!found.run.samples.empty() || found.savedAs > 0)
                scan.found.push_back(std::move(found));
            else if (found.damaged)
                setAside(QStringLiteral("no valid click"));
            else
                ::unlinkat(folder, name.constData(), 0);
        }
        if (fd >= 0)
            ::close(fd);
    }
    ::closedir(listing);
    if (invalid > 0)
        qCWarning(lcApp) << "dropping" << invalid
                         << "journal records whose colours are not three numbers from 0 to 1";
    return scan;
}

} // namespace zwirl
