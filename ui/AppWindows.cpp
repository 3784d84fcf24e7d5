// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/AppWindows.h"

#include <QApplication>
#include <QMessageBox>
#include <QPropertyAnimation>
#include <QScreen>

namespace zwirl {

void AppWindows::presentCentred(QWidget* window) {
    const QRect area = window->screen()->geometry();
    window->move(area.center() - QRect(QPoint(), window->frameGeometry().size()).center());
    window->show();
    window->raise();
}

void AppWindows::fadeOut(QWidget* window, int durationMs, std::function<void()> done) {
    if (!window || QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return done();
    // Owned here: a window closed while it fades still lets `done` run.
    auto* fade = new QPropertyAnimation(window, "windowOpacity", this);
    fade->setDuration(durationMs);
    // Ease-in: a cubic Bézier through (0.42, 0) and (1, 1).
    QEasingCurve easeIn(QEasingCurve::BezierSpline);
    easeIn.addCubicBezierSegment({0.42, 0.0}, {1.0, 1.0}, {1.0, 1.0});
    fade->setEasingCurve(easeIn);
    fade->setEndValue(0.0);
    connect(fade, &QPropertyAnimation::finished, this, std::move(done));
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void AppWindows::hideOwn() {
    m_own.removeAll(nullptr);
    for (QWidget* window : std::as_const(m_own))
        if (window->isVisible()) {
            m_hidden.append(window);
            window->hide();
        }
}

void AppWindows::showHidden() {
    for (const QPointer<QWidget>& window : std::exchange(m_hidden, {}))
        if (window)
            window->show();
}

void AppWindows::showAbout(const QList<std::pair<QString, QString>>& libraries,
                           const QString& site) {
    if (!m_about) {
        QString versions = QStringLiteral("Qt %1").arg(QString::fromLatin1(qVersion()));
        for (const auto& [library, version] : libraries)
            versions += QStringLiteral("<br>%1 %2").arg(library, version.toHtmlEscaped());
        auto* about = new QMessageBox(
            QMessageBox::NoIcon, QStringLiteral("About zwirl"),
            QStringLiteral("<p><b>zwirl</b> %1</p><p>Turns your mouse clicks into a sound and a "
                           "picture, saved in the zwirl folder on your desktop.</p><p>© Tolvarek"
                           "<br>Licence: GPL-3.0-or-later<br><a href=\"%2\">%2</a></p><p><small>"
                           "Made with %3</small></p>")
                .arg(QApplication::applicationVersion(), site, versions),
            QMessageBox::Ok);
        about->setAttribute(Qt::WA_DeleteOnClose);
        // Not modal: the control interface keeps answering meanwhile.
        about->setModal(false);
        about->setIconPixmap(QApplication::windowIcon().pixmap(96, 96));
        // Copyable, as for a report of a fault.
        about->setTextInteractionFlags(Qt::TextBrowserInteraction);
        about->setWindowFlag(Qt::WindowStaysOnTopHint);
        m_about = about;
        m_own.append(about);
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void AppWindows::openAlert(const QString& message) {
    const QString name = QApplication::applicationDisplayName();
    auto* alert = new QMessageBox(QMessageBox::NoIcon, name, name, QMessageBox::Ok);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setInformativeText(message);
    alert->setWindowFlag(Qt::WindowStaysOnTopHint);
    m_own.append(alert);
    alert->open();
}

} // namespace zwirl
