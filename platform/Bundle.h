#pragma once

#include <QFont>
#include <QImage>
#include <QString>

class QObject;
class QWidget;

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
    // The font stored in the bundle under that name at the given size; `found` tells whether
    // it could be had. Needs a QGuiApplication.
    QFont fontWithName(const QString& name, qreal pointSize, bool* found = nullptr) const;

private:
    QString m_executablePath;
    QString m_resourcePath;
};
