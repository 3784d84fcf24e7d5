#include "services/Settings.h"

#include "services/ServicesLog.h"

#include <QStandardPaths>

namespace zwirl {

namespace {
const QString kQuitSamples = QStringLiteral("de.tolvarek.zwirl.quit-key-samples");
const QString kQuitStart = QStringLiteral("de.tolvarek.zwirl.quit-key-startdate");
const QString kQuitEnd = QStringLiteral("de.tolvarek.zwirl.quit-key-enddate");
const QString kStartup = QStringLiteral("de.tolvarek.zwirl.startup-key");
const QString kLaterRuns = QStringLiteral("de.tolvarek.zwirl.later-runs");

QDateTime dateOf(const QVariant& value) {
    return value.metaType().id() == QMetaType::QDateTime ? value.toDateTime() : QDateTime();
}
} // namespace

QString Settings::defaultFileName() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/zwirl/zwirl.conf");
}

Settings::Settings(const QString& fileName) : m_settings(fileName, QSettings::IniFormat) {}

std::optional<Samples> Settings::quitSamples() const {
    QMutexLocker lock(&m_mutex);
    const QVariant stored = m_settings.value(kQuitSamples);
    return stored.isValid() ? validSamples(stored) : std::nullopt;
}

QDateTime Settings::quitStartDate() const {
    QMutexLocker lock(&m_mutex);
    return dateOf(m_settings.value(kQuitStart));
}

QDateTime Settings::quitEndDate() const {
    QMutexLocker lock(&m_mutex);
    return dateOf(m_settings.value(kQuitEnd));
}

bool Settings::hasQuitRun() const {
    QMutexLocker lock(&m_mutex);
    return m_settings.contains(kQuitSamples) || m_settings.contains(kQuitStart) ||
           m_settings.contains(kQuitEnd);
}

void Settings::setQuitRun(const Samples& samples, const QDateTime& start, const QDateTime& end) {
    QMutexLocker lock(&m_mutex);
    m_settings.setValue(kQuitSamples, toVariant(samples));
    m_settings.setValue(kQuitStart, start);
    m_settings.setValue(kQuitEnd, end);
}

void Settings::removeQuitRun() {
    QMutexLocker lock(&m_mutex);
    for (const QString& key : {kQuitSamples, kQuitStart, kQuitEnd})
        m_settings.remove(key);
}

QVariantList Settings::laterRuns() const {
    QMutexLocker lock(&m_mutex);
    return m_settings.value(kLaterRuns).toList();
}

void Settings::setLaterRuns(const QVariantList& runs) {
    QMutexLocker lock(&m_mutex);
    if (runs.isEmpty())
        m_settings.remove(kLaterRuns);
    else
        m_settings.setValue(kLaterRuns, runs);
}

std::optional<bool> Settings::startAtLogin() const {
    QMutexLocker lock(&m_mutex);
    const QVariant value = m_settings.value(kStartup);
    // The INI file gives booleans back as the words it wrote.
    const QString word = value.toString();
    if (word == QLatin1String("true") || word == QLatin1String("1"))
        return true;
    if (word == QLatin1String("false") || word == QLatin1String("0"))
        return false;
    if (value.isValid())
        qCWarning(lcServices) << "ignoring a startup setting that is not a boolean:" << value;
    return std::nullopt;
}

void Settings::setStartAtLogin(bool start) {
    QMutexLocker lock(&m_mutex);
    m_settings.setValue(kStartup, start);
}

bool Settings::sync() {
    QMutexLocker lock(&m_mutex);
    m_settings.sync();
    if (m_settings.status() == QSettings::NoError)
        return true;
    qCWarning(lcServices) << "could not write the settings to" << m_settings.fileName();
    return false;
}

// Each entry must be a list of at least three numbers; anything else is dropped with a log
// line, and no valid entry at all means nothing is stored.
std::optional<Samples> Settings::validSamples(const QVariant& stored) {
    const QVariantList entries = stored.toList();
    Samples valid;
    valid.reserve(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QVariantList components = entries[i].toList();
        ClickSample sample{};
        bool ok = components.size() >= 3;
        for (int c = 0; ok && c < 3; ++c)
            sample[c] = components[c].toDouble(&ok);
        if (ok)
            valid.push_back(sample);
        else
            qCWarning(lcServices) << "dropping stored click sample" << i
                                  << "that is not three numbers:" << entries[i];
    }
    if (valid.empty()) {
        qCWarning(lcServices) << "the stored clicks hold no valid sample";
        return std::nullopt;
    }
    return valid;
}

QVariantList Settings::toVariant(const Samples& samples) {
    QVariantList list;
    list.reserve(qsizetype(samples.size()));
    for (const ClickSample& s : samples)
        list.append(QVariant(QVariantList{s[0], s[1], s[2]}));
    return list;
}

} // namespace zwirl
