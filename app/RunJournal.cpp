#include "app/RunJournal.h"

#include "app/AppLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace zwirl {

namespace {

constexpr char kMagic[8] = {'Z', 'W', 'I', 'R', 'L', 'R', 'U', 'N'};

// Both laid out without padding, in the machine's byte order: the file never leaves it.
struct Header {
    char magic[8];
    quint32 version;
    quint32 recordSize;
    qint64 startMs; // the run's start, milliseconds since the epoch
    quint32 reserved;
    quint32 checksum; // of the bytes before it
};
struct Record {
    double rgb[3];
    quint32 index;    // the click's place in the run: a stale or shifted record does not fit
    quint32 checksum; // of the bytes before it
};
static_assert(sizeof(Header) == 32 && sizeof(Record) == 32);

template <typename T> quint32 checksumOf(const T& block) {
    return qChecksum(QByteArrayView(reinterpret_cast<const char*>(&block), offsetof(T, checksum)));
}

Header headerFor(const QDateTime& start) {
    Header header{};
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

// Why a header cannot be read; empty when it can.
QString headerFault(const QByteArray& data) {
    Header header;
    if (data.size() < qsizetype(sizeof header))
        return QStringLiteral("no complete header");
    std::memcpy(&header, data.constData(), sizeof header);
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
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    // The lock tells a later launch that this journal's process is still alive.
    const Header header = headerFor(start);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || !writeAt(fd, &header, sizeof header, 0)) {
        qCWarning(lcApp) << "could not write the run journal" << path << std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
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

std::vector<RunJournal::Found> RunJournal::leftBehind(int& setAside) {
    std::vector<Found> found;
    const QDir folder(folderPath());
    for (const QFileInfo& entry :
         folder.entryInfoList({QStringLiteral("*.journal")}, QDir::Files)) {
        QFile file(entry.filePath());
        if (!file.open(QIODevice::ReadOnly) || ::flock(file.handle(), LOCK_EX | LOCK_NB) != 0)
            continue; // a running zwirl's
        const QByteArray data = file.readAll();
        if (const QString fault = headerFault(data); !fault.isEmpty()) {
            qCWarning(lcApp).noquote()
                << "setting aside the run journal" << file.fileName() << "with" << fault;
            QFile::rename(file.fileName(), file.fileName() + QStringLiteral(".unreadable"));
            ++setAside;
            continue;
        }
        Header header;
        std::memcpy(&header, data.constData(), sizeof header);
        RecordedRun run{{}, QDateTime::fromMSecsSinceEpoch(header.startMs), entry.lastModified()};
        for (qsizetype at = sizeof header; at + qsizetype(sizeof(Record)) <= data.size();
             at += sizeof(Record)) {
            Record record;
            std::memcpy(&record, data.constData() + at, sizeof record);
            if (record.index != run.samples.size() || record.checksum != checksumOf(record)) {
                qCWarning(lcApp) << "the run journal" << file.fileName()
                                 << "ends in a damaged record after" << run.samples.size()
                                 << "clicks";
                break;
            }
            run.samples.push_back({record.rgb[0], record.rgb[1], record.rgb[2]});
        }
        if (run.samples.empty())
            file.remove();
        else
            found.push_back({file.fileName(), std::move(run)});
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return std::pair(a.run.start, a.path) < std::pair(b.run.start, b.path);
    });
    return found;
}

bool RunJournal::keep(const RecordedRun& run, std::size_t limit) {
    const QString folder = folderPath();
    QDir().mkpath(folder);
    QStringList written;
    bool ok = true;
    for (std::size_t first = 0; ok && first < run.samples.size(); first += limit) {
        QFile file(QStringLiteral("%1/run-%2-part%3.journal")
                       .arg(folder, run.start.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")))
                       .arg(written.size(), 6, 10, QLatin1Char('0')));
        written << file.fileName();
        const Header header = headerFor(run.start);
        QByteArray data(reinterpret_cast<const char*>(&header), sizeof header);
        for (std::size_t i = first; i < std::min(first + limit, run.samples.size()); ++i) {
            const Record record = recordFor(run.samples[i], quint32(i - first));
            data.append(reinterpret_cast<const char*>(&record), sizeof record);
        }
        ok = file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.flush() &&
             ::fdatasync(file.handle()) == 0;
        // The journal's date is the run's end.
        ok = ok && file.setFileTime(run.end, QFileDevice::FileModificationTime);
    }
    if (!ok) {
        qCWarning(lcApp) << "could not write the run into journals in" << folder;
        for (const QString& path : written)
            QFile::remove(path);
    }
    return ok;
}

} // namespace zwirl
