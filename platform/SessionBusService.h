#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

// What the application answers on the session bus; the service below turns the answers into
// D-Bus replies.
class SessionBusHandler {
public:
    enum class Result { Done, UnknownAction, NotSupported };
    virtual ~SessionBusHandler() = default;
    virtual void activate() = 0;
    virtual Result activateAction(const QString& name, const QVariantList& parameter) = 0;
    virtual bool isTracking() const = 0;
    virtual uint sampleCount() const = 0;
    virtual bool isExporting() const = 0;
};

// The application on the session bus: owns the well-known name and serves
// org.freedesktop.Application and de.tolvarek.zwirl.Control at the object path.
class SessionBusService : public QObject {
    Q_OBJECT
public:
    static const QString kServiceName; // de.tolvarek.zwirl
    static const QString kObjectPath;  // /de/tolvarek/zwirl

    explicit SessionBusService(SessionBusHandler* handler, QObject* parent = nullptr);

    enum class Registration { Registered, NameTaken, NoBus };
    Registration registerOnSessionBus();
    // Asks the instance that owns the name to show itself; false when it did not answer.
    static bool activateRunningInstance();

private:
    SessionBusHandler* m_handler;
};
