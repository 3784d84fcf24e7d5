#pragma once

// What the application object knows of its delegate.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual bool isTracking() const = 0;
};

// The running application's delegate, for the windows that ask whether a run is open.
class Application {
public:
    static void setDelegate(ApplicationDelegate* delegate);
    static ApplicationDelegate* delegate();
};
