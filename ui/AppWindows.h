// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <utility>

namespace zwirl {

class DROVDebugWindowController;
class DROVMainControllerDelegate;
class DROVMainWindowController;

// The windows zwirl puts on the screen: the main window, the About box and the alerts. Knowing
// them, it takes exactly these off the screen when a run starts and brings them back later;
// windows that are not zwirl's own, as the tray icon's, which belongs to the panel, stay.
class AppWindows : public QObject {
    Q_OBJECT
public:
    static constexpr int kFadeDurationMs = 300;

    explicit AppWindows(DROVMainControllerDelegate& delegate, QObject* parent = nullptr);

    // The controller of the open main window; null while the window is closed.
    DROVMainWindowController* mainWindowController() const;
    // The set-up notice the main window shows, now and whenever it opens.
    void setSetUpNotice(const QString& text, const QString& action);
    // Opens the main window, centred on its screen; an open one stays as it is.
    void showMainWindow();
    // Opens the main window when it is closed, closes it when it is open.
    void toggleMainWindow();
    // Closes the main window. Its controller goes once the event being handled is done with:
    // the request may come from the controller itself.
    void closeMainWindow();

    // What a start does to the windows: the main window fades out and closes, the others
    // leave the screen, then `done` runs.
    void fadeOutForStart(std::function<void()> done);
    // One About box, brought to the front when asked for again; it brings back the windows a
    // start took off the screen. `libraries` are the names and versions zwirl runs with.
    void showAbout(const QList<std::pair<QString, QString>>& libraries);
    // Opens the debug window, made the first time; it stays through runs, as it shows their
    // clicks.
    void showDebugWindow();
    // The colour of the last recorded click, for the debug window now and whenever it opens.
    void showLastClick(const QColor& colour);

    // A message under the application's name, above the other windows. It opens without a
    // loop of its own, so that the caller returns at once.
    void openAlert(const QString& message);

private:
    void hideShownWindows();
    void keep(QWidget* window);

    DROVMainControllerDelegate& m_delegate;
    QPointer<DROVMainWindowController> m_main;
    QPointer<QWidget> m_about;
    DROVDebugWindowController* m_debug = nullptr;
    QColor m_lastClick;
    std::pair<QString, QString> m_setUp;
    // The About box and the alerts, while they exist.
    QList<QPointer<QWidget>> m_windows;
    // Those a start took off the screen.
    QList<QPointer<QWidget>> m_hidden;
};

} // namespace zwirl
