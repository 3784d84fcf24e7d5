// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TrayIcon.h"

#include "app/DROVAppDelegate.h"

#include <QApplication>
#include <QCursor>
#include <QScreen>

namespace zwirl {

namespace {

// Beside the icon, towards the middle of the screen, as a panel's menus open; at the pointer when
// the icon's place is unknown.
QPoint menuPosition(const QRect& icon, const QMenu* menu) {
    if (!icon.isValid())
        return QCursor::pos();
    const QScreen* screen = QGuiApplication::screenAt(icon.center());
    const bool below = !screen || icon.center().y() < screen->geometry().center().y();
    return below ? icon.bottomLeft() + QPoint(0, 1)
                 : icon.topLeft() - QPoint(0, menu->sizeHint().height());
}

// Both sizes, whatever the scale at launch: the panel may sit on a screen of another scale.
QIcon image(const char* name) {
    QIcon icon;
    for (const char* size : {"", "@2x"})
        icon.addPixmap(QPixmap(
            QStringLiteral(":/images/%1%2.png").arg(QLatin1String(name), QLatin1String(size))));
    return icon;
}

} // namespace

TrayIcon::TrayIcon(DROVAppDelegate& delegate)
    : QObject(&delegate), m_delegate(delegate), m_menu(QStringLiteral("zwirl")),
      m_active(image("DROVStatus_active")), m_inactive(image("DROVStatus_inactive")) {
    const auto add = [this](const char* text, auto slot) {
        QAction* item = m_menu.addAction(QString::fromLatin1(text));
        connect(item, &QAction::triggered, &m_delegate, slot);
        return item;
    };
    m_tracking = add("Start Tracking", [this] {
        m_delegate.isTracking() ? m_delegate.stopTrackingAndTell()
                                : m_delegate.controllerStartAction();
    });
    add("Open Recordings Folder", &DROVAppDelegate::openRecordingsFolder);
    m_menu.addSeparator();
    add("Show or Hide Window", &DROVAppDelegate::showWindow);
    m_liveTone = add("Live Tone", &DROVAppDelegate::toggleLiveTone);
    m_startAtLogin = add("Start at Login", &DROVAppDelegate::setStartAtLogin);
    m_liveTone->setCheckable(true);
    m_startAtLogin->setCheckable(true);
    m_menu.addSeparator();
    m_debug = add("Debug Window", &DROVAppDelegate::showDebugWindow);
    m_debug->setVisible(false);
    add("About zwirl", &DROVAppDelegate::showAbout);
    add("Quit zwirl", &DROVAppDelegate::terminate);
    m_icon.setContextMenu(&m_menu);
    connect(&m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // An XEmbed tray's right click has Qt open the menu at the pointer, with the
                // first item under it, where the next right click would pick it unseen.
                if (reason == QSystemTrayIcon::Trigger ||
                    (reason == QSystemTrayIcon::Context && m_menu.isVisible()))
                    m_menu.popup(menuPosition(m_icon.geometry(), &m_menu));
            });
    connect(&m_delegate, &DROVAppDelegate::statusChanged, this,
            [this] { update(m_delegate.isTracking()); });
    update(m_delegate.isTracking());
    m_icon.show();
}

void TrayIcon::update(bool tracking) {
    // Set only when it changes: the state comes again with every click of a run.
    if (const QIcon& icon = tracking ? m_active : m_inactive;
        m_icon.icon().cacheKey() != icon.cacheKey())
        m_icon.setIcon(icon);
    QStringList tip{QApplication::applicationDisplayName()};
    const qsizetype clicks = qsizetype(m_delegate.recordedSamples().size());
    if (tracking)
        tip << (clicks == 1 ? QStringLiteral("tracking, 1 click")
                            : QStringLiteral("tracking, %1 clicks").arg(clicks));
    if (m_delegate.isExporting())
        tip << QStringLiteral("saving your clicks... %1%")
                   .arg(int(m_delegate.exportProgress() * 100.0));
    m_icon.setToolTip(tip.size() == 1 ? tip[0]
                                      : tip[0] + QStringLiteral(": ") + tip.mid(1).join(u'\n'));
    m_tracking->setText(tracking ? QStringLiteral("Stop Tracking")
                                 : QStringLiteral("Start Tracking"));
    m_liveTone->setChecked(m_delegate.isLiveTonePlaying());
    m_startAtLogin->setChecked(m_delegate.startsAtLogin());
}

} // namespace zwirl
