// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/RunJournal.h"

#include <QByteArrayView>
#include <QString>

#include <cstddef>
#include <cstring>

// The layout of a run journal, shared by its writer and its reader.
namespace zwirl::journal {

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

inline Header headerFor(const QDateTime& start, quint32 savedAs = 0) {
    Header header{};
    header.savedAs = savedAs;
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.version = RunJournal::kVersion;
    header.recordSize = sizeof(Record);
    header.startMs = start.toMSecsSinceEpoch();
    header.checksum = checksumOf(header);
    return header;
}

inline Record recordFor(const ClickSample& sample, quint32 index) {
    Record record{{sample[0], sample[1], sample[2]}, index, 0};
    record.checksum = checksumOf(record);
    return record;
}

// Why a header cannot be read; empty when it can.
inline QString headerFault(const Header& header) {
    if (std::memcmp(header.magic, kMagic, sizeof kMagic) != 0)
        return QStringLiteral("not a run journal");
    if (header.version > RunJournal::kVersion)
        return QStringLiteral("written by a newer zwirl (format %1)").arg(header.version);
    if (header.version != RunJournal::kVersion || header.recordSize != sizeof(Record) ||
        header.checksum != checksumOf(header))
        return QStringLiteral("a damaged header");
    return {};
}

} // namespace zwirl::journal
