#pragma once

#include "platform/Bundle.h"

#include <QObject>
#include <QWidget>

#include <memory>

// The controller of one window described by an interface file in the bundle. The file is
// loaded the first time the window is asked for; windowDidLoad then finds the outlets. A
// missing file leaves the controller without a window.
class WindowController : public QObject {
    Q_OBJECT
public:
    ~WindowController() override;

    QString windowNibName() const { return m_windowNibName; }
    // The window, loaded on the first call; nullptr when the interface file cannot be loaded.
    QWidget* window();
    bool isWindowLoaded() const { return m_window != nullptr; }
    // Closes the window without asking windowShouldClose.
    void close();

    // Makes the application's own widget classes available to interface files.
    static void registerViewClasses();

protected:
    WindowController(QString windowNibName, Bundle bundle, QObject* parent = nullptr);

    // Runs once, right after the interface file has been loaded.
    virtual void windowDidLoad() {}
    // Asked when the window manager or the user closes the window by other means than close();
    // returning false keeps the window open.
    virtual bool windowShouldClose() { return true; }
    // The window if it has been loaded, without loading it.
    QWidget* loadedWindow() const { return m_window.get(); }

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The window may be sending the very signal whose slot releases its controller, so it is
    // deleted once control is back in the event loop.
    struct DeleteLater {
        void operator()(QWidget* window) const;
    };

    QString m_windowNibName;
    Bundle m_bundle;
    bool m_triedLoading = false;
    bool m_closing = false;
    std::unique_ptr<QWidget, DeleteLater> m_window;
};
