#pragma once

#include <QMenu>
#include <QObject>

#include <memory>

class QSystemTrayIcon;

namespace zwirl {

// The icon in the panel's tray and its menu. A left click opens the menu as a right click
// does: the icon has no action of its own. Its image and tooltip show whether a run is open
// and whether clicks are being saved.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    QMenu* menu() const { return m_menu.get(); }
    void setActive(bool active);
    void setState(bool tracking, bool exporting);

Q_SIGNALS:
    void showWindowRequested();
    void liveToneRequested();
    void aboutRequested();
    void quitRequested();

private:
    std::unique_ptr<QMenu> m_menu;
    QSystemTrayIcon* m_icon;
};

} // namespace zwirl
