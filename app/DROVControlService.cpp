#include "app/DROVControlService.h"

#include "app/DROVAppDelegate.h"

void DROVControlService::activate() {
    if (!m_delegate->mainWindowController())
        m_delegate->showWindow();
}

SessionBusHandler::Result DROVControlService::activateAction(const QString& name,
                                                             const QVariantList& parameter) {
    Q_UNUSED(parameter);
    if (name == QLatin1String("start"))
        start();
    else if (name == QLatin1String("stop"))
        stop();
    else if (name == QLatin1String("toggle-window"))
        m_delegate->showWindow();
    else if (name == QLatin1String("about"))
        m_delegate->showAbout();
    else if (name == QLatin1String("live-tone"))
        m_delegate->toggleLiveTone();
    else if (name == QLatin1String("quit"))
        m_delegate->terminate();
    else
        return Result::UnknownAction;
    return Result::Done;
}

// As the main window's start button: fade the window out when it is open, else start at once.
void DROVControlService::start() {
    if (m_delegate->isTracking() || m_delegate->isStarting())
        return;
    if (m_delegate->mainWindowController())
        m_delegate->controllerStartAction();
    else
        m_delegate->startTracking();
}

void DROVControlService::stop() {
    if (m_delegate->isTracking())
        m_delegate->controllerStopAction();
}

bool DROVControlService::isTracking() const {
    return m_delegate->isTracking();
}

uint DROVControlService::sampleCount() const {
    return uint(m_delegate->recordedSamples().size());
}

bool DROVControlService::isExporting() const {
    return m_delegate->isExporting();
}
