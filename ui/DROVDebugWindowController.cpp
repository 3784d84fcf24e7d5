#include "ui/DROVDebugWindowController.h"

#include "ui_DROVDebugWindowController.h"

namespace zwirl {

DROVDebugWindowController::DROVDebugWindowController(QObject* parent) : QObject(parent) {}

DROVDebugWindowController::~DROVDebugWindowController() = default;

QWidget* DROVDebugWindowController::window() {
    if (!m_window) {
        m_window = std::make_unique<QWidget>();
        Ui::DROVDebugWindowController form;
        form.setupUi(m_window.get());
        m_clrView = form.clrView;
        m_clrLabel = form.clrLabel;
    }
    return m_window.get();
}

} // namespace zwirl
