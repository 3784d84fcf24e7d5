// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: the run journal reader on any bytes, as a journal left in the state folder.
// Every input must come back without a crash, a sanitizer report, a hang or a huge allocation,
// with only valid clicks, no more than a journal is read for, and a journal marked as saved
// read back alike. A first byte of 'S' makes the file sparse and far longer than is read.
// With ZWIRL_FUZZ_SEEDS=<folder> the program writes its seeds there with the journal's own
// writer and ends.
#include "app/RunJournal.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <cstdlib>
#include <unistd.h>

using namespace zwirl;

namespace {

QTemporaryDir* state;

QString journalPath() {
    return RunJournal::folderPath() + QStringLiteral("/input.journal");
}

void writeSeeds(const QString& folder) {
    QDir().mkpath(folder);
    const QDateTime start = QDateTime::fromMSecsSinceEpoch(1780000000000);
    Samples samples;
    for (int i = 0; i < 40; ++i)
        samples.push_back({(i % 5) / 4.0, (i % 3) / 2.0, (i % 7) / 6.0});
    const QString journal = RunJournal::write({samples, start, start.addSecs(30)});
    RunJournal::markSaved(journal, 3, start.addSecs(30));
    QFile::copy(journal, QStringLiteral("%1/journal").arg(folder));
    // Clickless, marked as saved.
    const QString mark = RunJournal::write({{}, start.addSecs(60), start.addSecs(90)});
    RunJournal::markSaved(mark, 2, start.addSecs(90));
    QFile::copy(mark, QStringLiteral("%1/saved-mark").arg(folder));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The readers' warnings are expected here, and writing them would be most of the time.
    QLoggingCategory::setFilterRules(QStringLiteral("*.warning=false"));
    state = new QTemporaryDir(QStringLiteral("/dev/shm/zwirl-fuzz-XXXXXX"));
    std::atexit([] { delete state; });
    qputenv("XDG_STATE_HOME", state->path().toUtf8());
    QDir().mkpath(RunJournal::folderPath());
    if (const QString seeds = qEnvironmentVariable("ZWIRL_FUZZ_SEEDS"); !seeds.isEmpty()) {
        writeSeeds(seeds);
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QFile file(journalPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
        return 0;
    if (size > 0 && data[0] == 'S')
        file.resize(64 * 1024 * 1024);
    file.close();
    RunJournal::Scan scan = RunJournal::leftBehind();
    for (const RunJournal::Found& found : scan.found) {
        if (found.run.samples.size() > RunJournal::kMaxRecords)
            __builtin_trap();
        for (const ClickSample& sample : found.run.samples)
            if (!isValidSample(sample))
                __builtin_trap();
        // Marked as saved, it reads back the same, with its date.
        if (!RunJournal::markSaved(found.path, 7, found.run.end))
            __builtin_trap();
        const RunJournal::Scan again = RunJournal::leftBehind();
        if (again.found.size() != 1 || again.found[0].savedAs != 7 ||
            again.found[0].run != found.run || again.found[0].damaged != found.damaged)
            __builtin_trap();
    }
    // Whatever was left or set aside goes before the next input.
    const QDir folder(RunJournal::folderPath());
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System))
        QFile::remove(folder.filePath(name));
    return 0;
}
