// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace zwirl {

// How zwirl's windows come and go. The boxes it opens are tracked, so that a start hides exactly
// these and leaves other windows, as the tray icon's, alone.
class AppWindows : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    static void presentCentred(QWidget* window);
    // At once without a window or on Wayland, where a client cannot change its window's opacity.
    void fadeOut(QWidget* window, int durationMs, std::function<void()> done);
    void hideOwn();
    void showHidden();
    void showAbout(const QList<std::pair<QString, QString>>& libraries, const QString& site);
    // Without a loop of its own, so the caller returns at once.
    void openAlert(const QString& message);

private:
    QPointer<QWidget> m_about;
    QList<QPointer<QWidget>> m_own, m_hidden;
};

} // namespace zwirl
