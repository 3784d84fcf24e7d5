// Tracking runs: starting and ending them, recording each click, the reminder and the limit.
#include "app/DROVAppDelegate.h"
#include "platform/Application.h"
#include "services/DROVHelper.h"
#include "sound/DROVAudioFileHelper.h"
#include "sound/DROVTonePlayer.h"
#include "ui/DROVMainWindowController.h"

#include <QApplication>
#include <QEasingCurve>
#include <QMessageBox>
#include <QPropertyAnimation>
#include <QTimer>
#include <QWidget>

namespace {

constexpr int kFadeDurationMs = 300;

// The platform's ease-in timing: a cubic Bézier through (0.42, 0) and (1, 1).
QEasingCurve easeIn() {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(1.0, 1.0), QPointF(1.0, 1.0));
    return curve;
}

bool runsUnderWayland() {
    return qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") ||
           qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

} // namespace

void DROVAppDelegate::controllerStartAction() {
    if (_isStarting || _isTracking)
        return;
    _isStarting = true;
    auto finishStart = [this] {
        if (_controllerWindow) {
            _controllerWindow->close();
            _controllerWindow.reset();
        }
        Application::hide();
        _isStarting = false;
        startTracking();
    };
    QWidget* window = _controllerWindow ? _controllerWindow->window() : nullptr;
    if (!window) {
        finishStart();
        return;
    }
    auto* fade = new QPropertyAnimation(window, "windowOpacity", this);
    fade->setDuration(kFadeDurationMs);
    fade->setEasingCurve(easeIn());
    fade->setEndValue(0.0);
    connect(fade, &QPropertyAnimation::finished, this, finishStart);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void DROVAppDelegate::controllerStopAction() {
    stopTrackingAndNotify(false, {});
}

void DROVAppDelegate::startTracking() {
    DROVHelper::notify(QStringLiteral("Started tracking mouse clicks..."));
    tellUserAboutWaylandOnce();

    delete _notificationTimer;
    _notificationTimer = new QTimer(this);
    _notificationTimer->setInterval(int(kReminderInterval * 1000));
    connect(_notificationTimer, &QTimer::timeout, this, &DROVAppDelegate::reminderNotification);
    _notificationTimer->start();

    _isTracking = true;
    changedStatusActive(true);
    _startTime = QDateTime::currentDateTime();
    m_clickSource->start();
}

void DROVAppDelegate::tellUserAboutWaylandOnce() {
    if (runsUnderWayland())
        DROVHelper::notify(QStringLiteral(
            "This desktop runs Wayland: only clicks in X11 applications can be recorded."));
}

void DROVAppDelegate::handleLeftMouseDown(std::optional<ClickSample> colour) {
    if (!_isTracking)
        return;
    const ClickSample sample = colour.value_or(ClickSample{0.0, 0.0, 0.0});
    if (_tone) {
        const float sum = float(sample[0] + sample[1] + sample[2]);
        _tone->newFreq(DROVAudioFileHelper::newFreq(sum));
    }
    samples.push_back(sample);
    if (samples.size() >= size_t(kClickLimit))
        reachedMaxClicks();
}

// The pixel under the pointer, on whichever screen holds it; nothing for a point on no screen.
std::optional<ClickSample> DROVAppDelegate::pixelColorForLocation(QPoint location) {
    return m_clickSource->colourAt(location);
}

void DROVAppDelegate::initTonePlayer() {
    _tone = std::make_unique<DROVTonePlayer>();
    _tone->start();
}

void DROVAppDelegate::toggleLiveTone() {
    try {
        if (_tone)
            _tone->start();
        else
            initTonePlayer();
    } catch (const std::exception& failure) {
        DROVHelper::notify(
            QStringLiteral("The live tone cannot play: %1").arg(QString::fromUtf8(failure.what())));
    }
}

void DROVAppDelegate::reminderNotification() {
    UserNotificationCenter::defaultUserNotificationCenter()->removeAllDeliveredNotifications();
    DROVHelper::notify(
        QStringLiteral("A friendly reminder that you're still tracking your zwirl..."));
}

void DROVAppDelegate::reachedMaxClicks() {
    stopTrackingAndNotify(true, {});
    QMessageBox alert;
    alert.setWindowTitle(QApplication::applicationDisplayName());
    alert.setText(QApplication::applicationDisplayName());
    alert.setInformativeText(
        QStringLiteral("You've reached %1 clicks - that's a lot of data and we will stop counting "
                       "now! listen to your clicks (located on the desktop).")
            .arg(kClickLimit));
    alert.setStandardButtons(QMessageBox::Ok);
    alert.setWindowFlag(Qt::WindowStaysOnTopHint);
    alert.exec();
}

void DROVAppDelegate::beforeStopTracking() {
    m_clickSource->stop();
    delete std::exchange(_notificationTimer, nullptr);
    _isTracking = false;
    changedStatusActive(false);
}
