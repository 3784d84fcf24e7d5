// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: the stored runs' reader on any settings file. The first byte picks how the
// rest becomes the file: even, values of any type Qt streams (QDataStream) for the keys of the
// stored runs in turn, as QSettings writes such values; odd, the file's text as it is. Every input
// must come back without a crash, a sanitizer report, a hang or a huge allocation, with runs of
// valid clicks only, and each run found must be forgotten when asked. With
// ZWIRL_FUZZ_SEEDS=<folder> the program writes its seeds there and ends.
#include "app/RunStore.h"
#include "services/Settings.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <cstdlib>

using namespace zwirl;

namespace {

QTemporaryDir* home;
const QStringList kKeys{"de.tolvarek.zwirl.quit-key-samples",
                        "de.tolvarek.zwirl.quit-key-startdate",
                        "de.tolvarek.zwirl.quit-key-enddate", "de.tolvarek.zwirl.later-runs"};

QString settingsPath() {
    return home->filePath(QStringLiteral("zwirl.conf"));
}

void writeSeeds(const QString& folder) {
    QDir().mkpath(folder);
    const QDateTime start = QDateTime::fromMSecsSinceEpoch(1780000000000);
    const Samples samples{{0.5, 0.25, 1.0}, {0.0, 1.0, 0.125}};
    {
        Settings settings(settingsPath());
        settings.setQuitRun(samples, start, start.addSecs(5));
        settings.setLaterRuns({QVariantMap{{"samples", Settings::toVariant(samples)},
                                           {"start", start.addSecs(60)},
                                           {"end", start.addSecs(65)}}});
        settings.sync();
    }
    QFile text(settingsPath()), seed(folder + QStringLiteral("/text"));
    if (text.open(QIODevice::ReadOnly) && seed.open(QIODevice::WriteOnly))
        seed.write("\x01" + text.readAll());
    QFile streamed(folder + QStringLiteral("/streamed"));
    if (streamed.open(QIODevice::WriteOnly)) {
        streamed.putChar('\0');
        QDataStream out(&streamed);
        const QSettings settings(settingsPath(), QSettings::IniFormat);
        for (const QString& key : kKeys)
            out << settings.value(key);
    }
}

} // namespace

// QDataStream (inside QSettings) allocates what a stream claims before reading it, and copes
// when the allocation fails: as a claim of gigabytes fails without the checker, it fails here.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=256";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The readers' warnings are expected here, and writing them would be most of the time.
    QLoggingCategory::setFilterRules(QStringLiteral("*.warning=false"));
    // Values of Qt's picture types (a settings file may hold any) need one, as zwirl has.
    static int argc = 1;
    static char name[] = "fuzz_RunStore";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QGuiApplication(argc, argv);
    home = new QTemporaryDir(QStringLiteral("/dev/shm/zwirl-fuzz-XXXXXX"));
    std::atexit([] { delete home; });
    if (const QString seeds = qEnvironmentVariable("ZWIRL_FUZZ_SEEDS"); !seeds.isEmpty()) {
        writeSeeds(seeds);
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const QByteArray rest(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    QFile::remove(settingsPath());
    QByteArray text = rest;
    // Each value as the settings file holds a value of a type it has no words for: its stream,
    // every byte escaped. (Written by QSettings instead, a value that Qt reads but cannot
    // stream back would stop the harness, not the reader.)
    if (!(data[0] & 1)) {
        text = "[General]\n";
        QDataStream in(rest);
        for (const QString& key : kKeys) {
            const qint64 from = in.device()->pos();
            QVariant value;
            in >> value;
            if (in.status() != QDataStream::Ok)
                break;
            text += key.toLatin1() + "=@Variant(";
            for (const char c : rest.mid(from, in.device()->pos() - from))
                text += QByteArray("\\x") + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
            text += ")\n";
        }
    }
    QFile file(settingsPath());
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return 0;
    file.close();
    Settings settings(settingsPath());
    RunStore store(settings);
    const std::vector<RecordedRun> runs = store.runs();
    for (const RecordedRun& run : runs) {
        if (run.samples.empty())
            __builtin_trap();
        for (const ClickSample& sample : run.samples)
            if (!isValidSample(sample))
                __builtin_trap();
    }
    // Each run found is forgotten when asked, and only it.
    if (!runs.empty() && (!store.remove(runs.front()) || store.runs().size() != runs.size() - 1))
        __builtin_trap();
    return 0;
}
