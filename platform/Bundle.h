#pragma once

#include <QFont>
#include <QImage>
#include <QObject>
#include <QString>
#include <QWidget>

#include <functional>

// The application bundle: the folder share/zwirl beside the binary's bin/ folder, in an
// installation as in the build tree. Resources are found by name and type, images by name
// (a PNG named after the image), fonts by their name, interface files (.ui) by name.
class Bundle {
public:
    static const Bundle& mainBundle();

    Bundle(QString executablePath, QString resourcePath);

    // The path that identifies the application to the desktop: the executable itself.
    QString bundlePath() const { return m_executablePath; }
    QString resourcePath() const { return m_resourcePath; }

    // The resource's path, or an empty string when the bundle has no such file.
    QString pathForResource(const QString& name, const QString& type) const;
    // A null image when the bundle has no image of that name.
    QImage imageNamed(const QString& name) const;
    // The largest picture of the icon file `name`.icns (it holds the icon at several sizes); a
    // null image when the bundle has none.
    QImage iconFileNamed(const QString& name) const;
    // The font stored in the bundle under that name at the given size; `found` tells whether
    // it could be had. Needs a QGuiApplication.
    QFont fontWithName(const QString& name, qreal pointSize, bool* found = nullptr) const;

    // Makes a widget of one of the application's own classes for an interface file.
    using NibClassFactory = std::function<QWidget*(QWidget* parent)>;
    // Interface files that name `className` get their widgets of that class from `factory`.
    // The classes live outside this folder and register themselves before the first load.
    static void registerNibClass(const QString& className, NibClassFactory factory);
    static bool isNibClassRegistered(const QString& className);

    // Loads the interface file `name`.ui: the widget tree it describes, with `owner` receiving
    // its actions (see connectActions). Images named in the file are found in the bundle. The
    // caller owns the returned widget; nullptr when the file is missing or unreadable.
    QWidget* loadNibNamed(const QString& name, QObject* owner, QWidget* parent = nullptr) const;

    // Connects every button under `root` (root included) whose "action" property names a slot
    // of `owner`: a click calls that slot (a slot without arguments, e.g. "startAction").
    // Returns how many actions were connected; names that `owner` lacks are logged.
    static int connectActions(QWidget* root, QObject* owner);

    // The outlet `name` under `root` (root included) if it is a T; nullptr otherwise, logged.
    template <typename T> static T* outlet(QWidget* root, const QString& name) {
        if (!root)
            return nullptr;
        QObject* found = root->objectName() == name
                             ? root
                             : root->findChild<QObject*>(name, Qt::FindChildrenRecursively);
        T* typed = qobject_cast<T*>(found);
        if (!typed)
            reportMissingOutlet(name, T::staticMetaObject.className(), found);
        return typed;
    }

private:
    static void reportMissingOutlet(const QString& name, const char* className,
                                    const QObject* found);

    QString m_executablePath;
    QString m_resourcePath;
};
