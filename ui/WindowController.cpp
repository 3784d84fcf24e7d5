#include "ui/WindowController.h"

#include "ui/DROVColorView.h"
#include "ui/DROVMainWindowView.h"
#include "ui/DROVPointingHandButton.h"

#include <QCloseEvent>

WindowController::WindowController(QString windowNibName, Bundle bundle, QObject* parent)
    : QObject(parent), m_windowNibName(std::move(windowNibName)), m_bundle(std::move(bundle)) {}

WindowController::~WindowController() = default;

void WindowController::DeleteLater::operator()(QWidget* window) const {
    window->hide();
    window->deleteLater();
}

void WindowController::registerViewClasses() {
    static const bool registered = [] {
        Bundle::registerNibClass(QStringLiteral("DROVMainWindowView"),
                                 [](QWidget* parent) { return new DROVMainWindowView(parent); });
        Bundle::registerNibClass(QStringLiteral("DROVPointingHandButton"), [](QWidget* parent) {
            return new DROVPointingHandButton(parent);
        });
        Bundle::registerNibClass(QStringLiteral("DROVColorView"),
                                 [](QWidget* parent) { return new DROVColorView(parent); });
        return true;
    }();
    Q_UNUSED(registered);
}

QWidget* WindowController::window() {
    if (m_triedLoading)
        return m_window.get();
    m_triedLoading = true;
    registerViewClasses();
    m_window.reset(m_bundle.loadNibNamed(m_windowNibName, this));
    if (!m_window)
        return nullptr;
    m_window->installEventFilter(this);
    windowDidLoad();
    return m_window.get();
}

void WindowController::close() {
    if (!m_window)
        return;
    m_closing = true;
    m_window->close();
    m_closing = false;
}

bool WindowController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window.get() && event->type() == QEvent::Close && !m_closing &&
        !windowShouldClose()) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}
