// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/AppWindows.h"

#include "ui/DROVDebugWindowController.h"
#include "ui/DROVMainWindowController.h"

#include <QApplication>
#include <QMessageBox>
#include <QPropertyAnimation>
#include <QScreen>

namespace zwirl {

AppWindows::AppWindows(DROVMainControllerDelegate& delegate, QObject* parent)
    : QObject(parent), m_delegate(delegate) {}

DROVMainWindowController* AppWindows::mainWindowController() const {
    return m_main;
}

void AppWindows::setSetUpNotice(const QString& text, const QString& action) {
    m_setUp = {text, action};
    if (m_main)
        m_main->showSetUp(text, action);
}

void AppWindows::showMainWindow() {
    if (m_main)
        return;
    m_main = new DROVMainWindowController(this);
    m_main->setDelegate(&m_delegate);
    QWidget* window = m_main->window();
    m_main->showSetUp(m_setUp.first, m_setUp.second);
    // Centred on the screen that holds it, its position included, so that a second screen is
    // centred too.
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect();
    window->move(area.center() - QRect(QPoint(), window->frameGeometry().size()).center());
    window->show();
    window->raise();
}

void AppWindows::toggleMainWindow() {
    m_main ? closeMainWindow() : showMainWindow();
}

void AppWindows::closeMainWindow() {
    if (!m_main)
        return;
    m_main->close();
    std::exchange(m_main, nullptr)->deleteLater();
}

void AppWindows::fadeOutForStart(std::function<void()> done) {
    auto finish = [this, done = std::move(done)] {
        closeMainWindow();
        hideShownWindows();
        done();
    };
    QWidget* window = m_main ? m_main->window() : nullptr;
    // A Wayland client cannot change its window's opacity: the window goes at once there.
    if (!window || QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return finish();
    // The animation belongs to this object, not to the window's controller: closed while it
    // fades, the window still lets the start go on.
    auto* fade = new QPropertyAnimation(window, "windowOpacity", this);
    fade->setDuration(kFadeDurationMs);
    // The ease-in timing: a cubic Bézier through (0.42, 0) and (1, 1).
    QEasingCurve easeIn(QEasingCurve::BezierSpline);
    easeIn.addCubicBezierSegment({0.42, 0.0}, {1.0, 1.0}, {1.0, 1.0});
    fade->setEasingCurve(easeIn);
    fade->setEndValue(0.0);
    connect(fade, &QPropertyAnimation::finished, this, finish);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void AppWindows::hideShownWindows() {
    for (const QPointer<QWidget>& window : std::as_const(m_windows))
        if (window && window->isVisible()) {
            m_hidden.append(window);
            window->hide();
        }
}

void AppWindows::keep(QWidget* window) {
    m_windows.removeAll(nullptr);
    m_windows.append(window);
}

void AppWindows::showAbout(const QList<std::pair<QString, QString>>& libraries) {
    for (const QPointer<QWidget>& window : std::exchange(m_hidden, {}))
        if (window)
            window->show();
    if (!m_about) {
        // Not modal: the application (and its control interface) keeps answering meanwhile.
        QString versions = QStringLiteral("Qt %1").arg(QString::fromLatin1(qVersion()));
        for (const auto& [library, version] : libraries)
            versions += QStringLiteral("<br>%1 %2").arg(library, version.toHtmlEscaped());
        const QString site = QString::fromLatin1(DROVMainWindowController::kMakerWebsite);
        auto* about = new QMessageBox(
            QMessageBox::NoIcon, QStringLiteral("About zwirl"),
            QStringLiteral("<p><b>zwirl</b> %1</p><p>Turns your mouse clicks into a sound and a "
                           "picture, saved in the zwirl folder on your desktop.</p><p>© Tolvarek"
                           "<br>Licence: GPL-3.0-or-later<br><a href=\"%2\">%2</a></p><p><small>"
                           "Made with %3</small></p>")
                .arg(QApplication::applicationVersion(), site, versions),
            QMessageBox::Ok);
        about->setAttribute(Qt::WA_DeleteOnClose);
        // A message box blocks the other windows and the tray menu unless told otherwise.
        about->setModal(false);
        about->setIconPixmap(QApplication::windowIcon().pixmap(96, 96));
        // Everything can be selected and copied, as for a report of a fault; the link opens.
        about->setTextInteractionFlags(Qt::TextBrowserInteraction);
        about->setWindowFlag(Qt::WindowStaysOnTopHint);
        m_about = about;
        keep(about);
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void AppWindows::showDebugWindow() {
    if (!m_debug) {
        m_debug = new DROVDebugWindowController(this);
        m_debug->showColor(m_lastClick);
    }
    QWidget* window = m_debug->window();
    window->show();
    window->raise();
}

void AppWindows::showLastClick(const QColor& colour) {
    m_lastClick = colour;
    if (m_debug)
        m_debug->showColor(colour);
}

void AppWindows::openAlert(const QString& message) {
    const QString name = QApplication::applicationDisplayName();
    auto* alert = new QMessageBox(QMessageBox::NoIcon, name, name, QMessageBox::Ok);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setInformativeText(message);
    alert->setWindowFlag(Qt::WindowStaysOnTopHint);
    keep(alert);
    alert->open();
}

} // namespace zwirl
