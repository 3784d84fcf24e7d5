#include "platform/Bundle.h"

#include "platform/PlatformLog.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHash>
#include <QImageReader>
#include <QMetaMethod>
#include <QMutex>
#include <QUiLoader>

namespace {

QString runningExecutable() {
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

QString resourcesBeside(const QString& executable) {
    return QDir::cleanPath(QFileInfo(executable).absolutePath() +
                           QStringLiteral("/../share/zwirl"));
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
    const QStringList families =
        id < 0 ? QStringList() : QFontDatabase::applicationFontFamilies(id);
    loaded.insert(path, families);
    return families;
}

QHash<QString, Bundle::NibClassFactory>& nibClasses() {
    static QHash<QString, Bundle::NibClassFactory> classes;
    return classes;
}

// Builds the application's own widget classes by name and leaves every other class to Qt.
class NibLoader : public QUiLoader {
public:
    using QUiLoader::QUiLoader;

    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
        const auto it = nibClasses().constFind(className);
        if (it == nibClasses().constEnd())
            return QUiLoader::createWidget(className, parent, name);
        QWidget* widget = (*it)(parent);
        if (widget)
            widget->setObjectName(name);
        return widget;
    }
};

// The slot of `owner` that the action name stands for: a slot without arguments.
QMetaMethod actionSlot(const QObject* owner, const QByteArray& action) {
    const QMetaObject* meta = owner->metaObject();
    const int index = meta->indexOfSlot(QMetaObject::normalizedSignature(action + "()"));
    return index < 0 ? QMetaMethod() : meta->method(index);
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

QImage Bundle::iconFileNamed(const QString& name) const {
    QImage largest;
    const QString path = pathForResource(name, QStringLiteral("icns"));
    if (path.isEmpty())
        return largest;
    QImageReader reader(path);
    const int count = qMax(1, reader.imageCount());
    for (int i = 0; i < count; ++i) {
        if (i > 0 && !reader.jumpToImage(i))
            break;
        const QImage image = reader.read();
        if (image.width() * image.height() > largest.width() * largest.height())
            largest = image;
    }
    return largest;
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

void Bundle::registerNibClass(const QString& className, NibClassFactory factory) {
    nibClasses().insert(className, std::move(factory));
}

bool Bundle::isNibClassRegistered(const QString& className) {
    return nibClasses().contains(className);
}

QWidget* Bundle::loadNibNamed(const QString& name, QObject* owner, QWidget* parent) const {
    const QString path = pathForResource(name, QStringLiteral("ui"));
    if (path.isEmpty()) {
        qCWarning(lcPlatform) << "interface file not in bundle:" << name;
        return nullptr;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcPlatform) << "cannot read interface file" << path << file.errorString();
        return nullptr;
    }
    NibLoader loader;
    // Icons in the file are named by their file names in the bundle.
    loader.setWorkingDirectory(QDir(m_resourcePath));
    QWidget* root = loader.load(&file, parent);
    if (!root) {
        qCWarning(lcPlatform) << "cannot load interface file" << path << loader.errorString();
        return nullptr;
    }
    if (owner)
        connectActions(root, owner);
    return root;
}

int Bundle::connectActions(QWidget* root, QObject* owner) {
    if (!root || !owner)
        return 0;
    QList<QAbstractButton*> buttons = root->findChildren<QAbstractButton*>();
    if (auto* rootButton = qobject_cast<QAbstractButton*>(root))
        buttons.prepend(rootButton);
    const QMetaMethod clicked = QMetaMethod::fromSignal(&QAbstractButton::clicked);
    int connected = 0;
    for (QAbstractButton* button : std::as_const(buttons)) {
        const QByteArray action = button->property("action").toString().toUtf8();
        if (action.isEmpty())
            continue;
        const QMetaMethod slot = actionSlot(owner, action);
        if (!slot.isValid()) {
            qCWarning(lcPlatform) << owner->metaObject()->className() << "has no action" << action
                                  << "for" << button->objectName();
            continue;
        }
        if (QObject::connect(button, clicked, owner, slot))
            ++connected;
    }
    return connected;
}

void Bundle::reportMissingOutlet(const QString& name, const char* className, const QObject* found) {
    if (found)
        qCWarning(lcPlatform) << "outlet" << name << "is a" << found->metaObject()->className()
                              << "not a" << className;
    else
        qCWarning(lcPlatform) << "outlet" << name << "not found";
}
