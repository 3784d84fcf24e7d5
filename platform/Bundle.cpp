#include "platform/Bundle.h"

#include "platform/PlatformLog.h"

#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHash>
#include <QMutex>

namespace {

QString runningExecutable() { return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath(); }

QString resourcesBeside(const QString& executable) {
    return QDir::cleanPath(QFileInfo(executable).absolutePath() + QStringLiteral("/../share/zwirl"));
}

// Application fonts are registered once per process; the families each file brought are kept.
QStringList familiesOfFontFile(const QString& path) {
    static QMutex mutex;
    static QHash<QString, QStringList> loaded;
    QMutexLocker lock(&mutex);
    auto it = loaded.constFind(path);
    if (it != loaded.constEnd())
        return *it;
    const int id = QFontDatabase::addApplicationFont(path);
    const QStringList families = id < 0 ? QStringList() : QFontDatabase::applicationFontFamilies(id);
    loaded.insert(path, families);
    return families;
}

} // namespace

const Bundle& Bundle::mainBundle() {
    static const Bundle bundle(runningExecutable(), resourcesBeside(runningExecutable()));
    return bundle;
}

Bundle::Bundle(QString executablePath, QString resourcePath)
    : m_executablePath(std::move(executablePath)), m_resourcePath(std::move(resourcePath)) {}

QString Bundle::pathForResource(const QString& name, const QString& type) const {
    const QString path = m_resourcePath + u'/' + name + (type.isEmpty() ? QString() : u'.' + type);
    return QFileInfo(path).isFile() ? path : QString();
}

QImage Bundle::imageNamed(const QString& name) const {
    const QString path = pathForResource(name, QStringLiteral("png"));
    if (path.isEmpty())
        return {};
    QImage image(path);
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QFont Bundle::fontWithName(const QString& name, qreal pointSize, bool* found) const {
    const QString path = pathForResource(QStringLiteral("fonts/") + name, QStringLiteral("ttf"));
    const QStringList families = path.isEmpty() ? QStringList() : familiesOfFontFile(path);
    if (found)
        *found = !families.isEmpty();
    if (families.isEmpty()) {
        qCWarning(lcPlatform) << "font not in bundle:" << name;
        return {};
    }
    // A font file names its family ("Lato") and its style ("Light") apart; the name the
    // application asks for joins both.
    const QString family = families.first();
    const QString style = name.startsWith(family) ? name.mid(family.size()).trimmed() : QString();
    QFont font = QFontDatabase::font(family, style, 12);
    font.setPointSizeF(pointSize);
    return font;
}
