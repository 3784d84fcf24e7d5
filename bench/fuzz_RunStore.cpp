// libFuzzer target: the stored runs' reader on any settings file. The first byte picks how the
// rest becomes the file: even, values of any type Qt streams (QDataStream) for the keys of the
// stored runs in turn; odd, the file's text as it is. Every input must come back without a
// crash, a sanitizer report, a hang or a huge allocation, with runs of valid clicks only, and
// each run found must be forgotten when asked.
// With ZWIRL_FUZZ_SEEDS=<folder> the program writes its seeds there and ends.
#include "app/RunStore.h"
#include "services/Settings.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
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

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The readers' warnings are expected here, and writing them would be most of the time.
    QLoggingCategory::setFilterRules(QStringLiteral("*.warning=false"));
    home = new QTemporaryDir(QStringLiteral("/dev/shm/zwirl-fuzz-XXXXXX"));
    if (const QString seeds = qEnvironmentVariable("ZWIRL_FUZZ_SEEDS"); !seeds.isEmpty()) {
        writeSeeds(seeds);
        delete home;
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const QByteArray rest(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    QFile::remove(settingsPath());
    if (data[0] & 1) {
        QFile file(settingsPath());
        if (!file.open(QIODevice::WriteOnly) || file.write(rest) != rest.size())
            return 0;
    } else {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        QDataStream in(rest);
        for (const QString& key : kKeys) {
            QVariant value;
            in >> value;
            if (in.status() != QDataStream::Ok)
                break;
            settings.setValue(key, value);
        }
    }
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
