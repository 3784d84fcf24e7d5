// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TrayIcon.h"

#include <QApplication>
#include <QCursor>
#include <QScreen>

namespace zwirl {

namespace {

// Where the menu opens: beside the icon, towards the middle of the screen, as a panel's menus
// do, so that it does not cover the icon; at the pointer when the icon's place is unknown.
QPoint menuPosition(const QRect& icon, const QMenu* menu) {
    if (!icon.isValid())
        return QCursor::pos();
    const QScreen* screen = QGuiApplication::screenAt(icon.center());
    const bool below = !screen || icon.center().y() < screen->geometry().center().y();
    return below ? icon.bottomLeft() + QPoint(0, 1)
                 : icon.topLeft() - QPoint(0, menu->sizeHint().height());
}

} // namespace

TrayIcon::TrayIcon(QObject* parent)
    : QObject(parent), m_menu(std::make_unique<QMenu>(QStringLiteral("zwirl"))),
      m_icon(std::make_unique<QSystemTrayIcon>()) {
    const auto add = [this](const char* text, void (TrayIcon::*requested)()) {
        QAction* item = m_menu->addAction(QString::fromLatin1(text));
        connect(item, &QAction::triggered, this, requested);
        return item;
    };
    m_tracking = add("Start Tracking", &TrayIcon::trackingRequested);
    add("Open Recordings Folder", &TrayIcon::openFolderRequested);
    m_menu->addSeparator();
    add("Show or Hide Window", &TrayIcon::showWindowRequested);
    m_liveTone = add("Live Tone", &TrayIcon::liveToneRequested);
    m_startAtLogin = m_menu->addAction(QStringLiteral("Start at Login"));
    connect(m_startAtLogin, &QAction::triggered, this, &TrayIcon::startAtLoginRequested);
    for (QAction* setting : {m_liveTone, m_startAtLogin})
        setting->setCheckable(true);
    m_menu->addSeparator();
    m_debug = add("Debug Window", &TrayIcon::debugWindowRequested);
    m_debug->setVisible(false);
    add("About zwirl", &TrayIcon::aboutRequested);
    add("Quit zwirl", &TrayIcon::quitRequested);
    m_icon->setContextMenu(m_menu.get());
    connect(m_icon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // An XEmbed tray's right click has Qt open the menu at the pointer, with the
                // first item under it, where the next right click would pick it unseen: it
                // moves beside the icon as well.
                if (reason == QSystemTrayIcon::Trigger ||
                    (reason == QSystemTrayIcon::Context && m_menu->isVisible()))
                    m_menu->popup(menuPosition(m_icon->geometry(), m_menu.get()));
            });
    setState({});
    m_icon->show();
}

// Both sizes, whatever the scale at launch: the icon is drawn at the scale of the screen that
// holds the panel, which may be another one. The icon picks the image for the scale and centres
// it in the slot the panel gives.
QIcon TrayIcon::image(const char* name) {
    QIcon icon;
    for (const char* size : {"", "@2x"})
        icon.addPixmap(QPixmap(
            QStringLiteral(":/images/%1%2.png").arg(QLatin1String(name), QLatin1String(size))));
    return icon;
}

void TrayIcon::setState(const State& state) {
    // Set only when it changes: the state comes again with every click of a run.
    if (const QIcon& icon = state.tracking ? m_active : m_inactive;
        m_icon->icon().cacheKey() != icon.cacheKey())
        m_icon->setIcon(icon);
    QStringList tip{QApplication::applicationDisplayName()};
    if (state.tracking)
        tip << (state.clicks == 1 ? QStringLiteral("tracking, 1 click")
                                  : QStringLiteral("tracking, %1 clicks").arg(state.clicks));
    if (state.exporting)
        tip << QStringLiteral("saving your clicks... %1%").arg(state.exportPercent);
    m_icon->setToolTip(tip.size() == 1 ? tip[0]
                                       : tip[0] + QStringLiteral(": ") + tip.mid(1).join(u'\n'));
    m_tracking->setText(state.tracking ? QStringLiteral("Stop Tracking")
                                       : QStringLiteral("Start Tracking"));
    m_liveTone->setChecked(state.liveTone);
    m_startAtLogin->setChecked(state.startAtLogin);
}

void TrayIcon::showDebugItem() {
    m_debug->setVisible(true);
}

} // namespace zwirl
