#pragma once

class QWidget;

// What the application object knows of its delegate.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual bool isTracking() const = 0;
};

// The running application: its delegate, and hiding or showing all of its windows at once.
class Application {
public:
    static void setDelegate(ApplicationDelegate* delegate);
    static ApplicationDelegate* delegate();
    // Hides every visible top-level window of the application (remembered for unhide).
    static void hide();
    // Shows again the windows that hide() took away.
    static void unhide();
};
