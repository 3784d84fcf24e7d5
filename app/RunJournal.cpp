#include "app/RunJournal.h"

#include "app/AppLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zwirl {

namespace {

constexpr char kMagic[8] = {'Z', 'W', 'I', 'R', 'L', 'R', 'U', 'N'};

// Both laid out without padding, in the machine's byte order: the file never leaves it.
struct Header {
    char magic[8];
    quint32 version;
    quint32 recordSize;
    qint64 startMs;   // the run's start, milliseconds since the epoch
    quint32 savedAs;  // kSavedMark and the suffix of the files being saved; 0 before
    quint32 checksum; // of the bytes before it
};
struct Record {
    double rgb[3];
    quint32 index;    // the click's place in the run: a stale or shifted record does not fit
    quint32 checksum; // of the bytes before it
};
static_assert(sizeof(Header) == 32 && sizeof(Record) == 32);
constexpr quint32 kSavedMark = 0xA5000000, kSuffixBits = 0x00FFFFFF;
// Records read at a time: a run's worth fits in 80 KB pieces.
constexpr quint32 kReadBlock = 2500;

template <typename T> quint32 checksumOf(const T& block) {
    return qChecksum(QByteArrayView(reinterpret_cast<const char*>(&block), offsetof(T, checksum)));
}

Header headerFor(const QDateTime& start, quint32 savedAs = 0) {
    Header header{};
    header.savedAs = savedAs;
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.version = RunJournal::kVersion;
    header.recordSize = sizeof(Record);
    header.startMs = start.toMSecsSinceEpoch();
    header.checksum = checksumOf(header);
    return header;
}

Record recordFor(const ClickSample& sample, quint32 index) {
    Record record{{sample[0], sample[1], sample[2]}, index, 0};
    record.checksum = checksumOf(record);
    return record;
}

// The whole block at `offset`, retried after an interruption.
bool writeAt(int fd, const void* data, size_t size, off_t offset) {
    ssize_t written;
    while ((written = ::pwrite(fd, data, size, offset)) < 0 && errno == EINTR) {
    }
    return written == ssize_t(size);
}

// The whole block at `offset`, retried after an interruption; false at the file's end.
bool readAt(int fd, void* data, size_t size, off_t offset) {
    ssize_t got;
    while ((got = ::pread(fd, data, size, offset)) < 0 && errno == EINTR) {
    }
    return got == ssize_t(size);
}

timespec timespecOf(const QDateTime& date) {
    const qint64 ms = date.toMSecsSinceEpoch();
    const qint64 seconds = ms / 1000 - (ms % 1000 < 0); // rounded down before 1970 too
    return {time_t(seconds), long(ms - seconds * 1000) * 1000000};
}

// A file created here, never through a link or over a file that is there.
int createNew(const QString& path) {
    return ::open(QFile::encodeName(path).constData(),
                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

// Why a header cannot be read; empty when it can.
QString headerFault(const Header& header) {
    if (std::memcmp(header.magic, kMagic, sizeof kMagic) != 0)
        return QStringLiteral("not a run journal");
    if (header.version > RunJournal::kVersion)
        return QStringLiteral("written by a newer zwirl (format %1)").arg(header.version);
    if (header.version != RunJournal::kVersion || header.recordSize != sizeof(Record) ||
        header.checksum != checksumOf(header))
        return QStringLiteral("a damaged header");
    return {};
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

void RunJournal::syncFolder(const QString& path) {
    if (const int folder =
            ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

namespace {

// One journal of the folder open for reading, or why it is not.
class JournalFile {
public:
    JournalFile(int folder, const char* name)
        : m_fd(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)) {
        m_errno = errno;
    }
    ~JournalFile() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    JournalFile(const JournalFile&) = delete;
    JournalFile& operator=(const JournalFile&) = delete;

    // Why the file is no journal to read; empty when it may be one.
    QString fault() {
        if (m_fd < 0)
            return m_errno == ELOOP ? QStringLiteral("a link")
                                    : QString::fromLocal8Bit(std::strerror(m_errno));
        if (::fstat(m_fd, &m_stat) != 0 || !S_ISREG(m_stat.st_mode))
            return QStringLiteral("not a regular file");
        return {};
    }
    // A running zwirl holds its journal locked.
    bool isHeld() const { return ::flock(m_fd, LOCK_EX | LOCK_NB) != 0; }
    qint64 size() const { return m_stat.st_size; }
    QDateTime modified() const {
        return QDateTime::fromMSecsSinceEpoch(qint64(m_stat.st_mtim.tv_sec) * 1000 +
                                              m_stat.st_mtim.tv_nsec / 1000000);
    }
    int fd() const { return m_fd; }

private:
    int m_fd;
    int m_errno;
    struct stat m_stat {};
};

// Gives a file of the folder a name that no other file has; false when it has not got it.
bool renameFree(int folder, const QByteArray& from, const QByteArray& to) {
    if (::renameat2(folder, from.constData(), folder, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    // A file system that cannot check that for itself.
    struct stat taken;
    return errno == EINVAL && ::fstatat(folder, to.constData(), &taken, AT_SYMLINK_NOFOLLOW) != 0 &&
           errno == ENOENT && ::renameat(folder, from.constData(), folder, to.constData()) == 0;
}

// Reads every record of `file` that is whole, at its place, unchanged since it was written
// and a valid click into `found`; marks it damaged when any other was there.
void readRecords(const JournalFile& file, RunJournal::Found& found, std::size_t& invalid) {
    const qint64 whole = (file.size() - qint64(sizeof(Header))) / qint64(sizeof(Record));
    const quint32 count = quint32(std::min<qint64>(whole, RunJournal::kMaxRecords));
    found.damaged = whole > count;
    found.run.samples.reserve(count);
    std::vector<Record> block(std::min(count, kReadBlock));
    for (quint32 first = 0; first < count; first += kReadBlock) {
        const quint32 n = std::min(kReadBlock, count - first);
        if (!readAt(file.fd(), block.data(), n * sizeof(Record),
                    off_t(sizeof(Header) + qint64(first) * sizeof(Record)))) {
            found.damaged = true; // shorter than it said a moment ago
            return;
        }
        for (quint32 i = 0; i < n; ++i) {
            const Record& record = block[i];
            const ClickSample sample{record.rgb[0], record.rgb[1], record.rgb[2]};
            if (record.index != first + i || record.checksum != checksumOf(record)) {
                found.damaged = true;
            } else if (!isValidSample(sample)) {
                found.damaged = true;
                ++invalid;
            } else {
                found.run.samples.push_back(sample);
            }
        }
    }
}

} // namespace

RunJournal::Scan RunJournal::leftBehind() {
    Scan scan;
    const QString path = folderPath();
    const int folder =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* const listing = folder >= 0 ? ::fdopendir(folder) : nullptr;
    if (!listing) {
        if (folder >= 0)
            ::close(folder);
        return scan;
    }
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
        // A name that is not in the file system's encoding would not be found again by it:
        // the journal takes the name it is shown with.
        if (const QByteArray shown = QFile::encodeName(QFile::decodeName(name)); shown != name) {
            if (!renameFree(folder, name, shown)) {
                setAside(QStringLiteral("a name that cannot be shown"));
                continue;
            }
            name = shown;
        }
        JournalFile file(folder, name.constData());
        if (const QString fault = file.fault(); !fault.isEmpty()) {
            setAside(fault);
            continue;
        }
        if (file.isHeld())
            continue; // a running zwirl's
        Header header;
        if (file.size() == 0) {
            ::unlinkat(folder, name.constData(), 0); // made, and nothing written
            continue;
        }
        if (!readAt(file.fd(), &header, sizeof header, 0)) {
            setAside(QStringLiteral("no complete header"));
            continue;
        }
        if (const QString fault = headerFault(header); !fault.isEmpty()) {
            setAside(fault);
            continue;
        }
        Found found{path + u'/' + QFile::decodeName(name),
                    {{}, QDateTime::fromMSecsSinceEpoch(header.startMs), file.modified()},
                    false,
                    {}};
        if ((header.savedAs & ~kSuffixBits) == kSavedMark)
            found.savedAs = int(header.savedAs & kSuffixBits);
        readRecords(file, found, invalid);
        if (found.damaged)
            qCWarning(lcApp) << "the run journal" << found.path << "holds damaged records; kept"
                             << found.run.samples.size() << "clicks";
        if (!found.run.samples.empty() || found.savedAs)
            scan.found.push_back(std::move(found));
        else if (found.damaged)
            setAside(QStringLiteral("no valid click"));
        else
            ::unlinkat(folder, name.constData(), 0);
    }
    ::closedir(listing);
    // One line however many there were.
    if (invalid > 0)
        qCWarning(lcApp) << "dropping" << invalid
                         << "journal records whose colours are not three numbers from 0 to 1";
    std::sort(scan.found.begin(), scan.found.end(), [](const Found& a, const Found& b) {
        return std::pair(a.run.start, a.path) < std::pair(b.run.start, b.path);
    });
    return scan;
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
