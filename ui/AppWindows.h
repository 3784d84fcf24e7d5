// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <utility>

namespace zwirl {

// How zwirl's windows come and go: where they open, the main window's fade at a start, the About
// box and the alerts. The boxes it opens are tracked, so a start takes exactly these off the
// screen; windows that are not zwirl's own, as the tray icon's, stay.
class AppWindows : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Centred on the screen that holds it, a second screen's too, then shown and raised.
    static void presentCentred(QWidget* window);
    // Fades `window` out over `durationMs`, then runs `done`; at once without a window or on
    // Wayland, where a client cannot change its window's opacity.
    void fadeOut(QWidget* window, int durationMs, std::function<void()> done);
    // The About box and the alerts leave the screen, until showHidden().
    void hideOwn();
    void showHidden();
    // One About box, brought to the front when asked for again.
    void showAbout(const QList<std::pair<QString, QString>>& libraries, const QString& site);
    // A message under the application's name, above the other windows; without a loop of its
    // own, so the caller returns at once.
    void openAlert(const QString& message);

private:
    QPointer<QWidget> m_about;
    QList<QPointer<QWidget>> m_own, m_hidden;
};

} // namespace zwirl
