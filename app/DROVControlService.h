#pragma once

#include "platform/SessionBusService.h"

class DROVAppDelegate;

// The application's answers to the control interface on the session bus: the window, runs,
// the live tone, About and quitting, as the user would reach them through the window and menu.
class DROVControlService : public SessionBusHandler {
public:
    explicit DROVControlService(DROVAppDelegate* delegate) : m_delegate(delegate) {}

    void activate() override;
    Result activateAction(const QString& name, const QVariantList& parameter) override;
    bool isTracking() const override;
    uint sampleCount() const override;
    bool isExporting() const override;

private:
    void start();
    void stop();

    DROVAppDelegate* m_delegate;
};
