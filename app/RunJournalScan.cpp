// SPDX-License-Identifier: GPL-3.0-or-later
// The reading side of the run journals: the journals that processes left behind.
#include "app/AppLog.h"
#include "app/DurableFiles.h"
#include "app/JournalFormat.h"
#include "app/RunJournal.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zwirl {

using namespace durable;
using namespace journal;

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

} // namespace zwirl
