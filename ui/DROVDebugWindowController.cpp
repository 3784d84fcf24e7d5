#include "ui/DROVDebugWindowController.h"

DROVDebugWindowController::DROVDebugWindowController(const Bundle& bundle, QObject* parent)
    : WindowController(QStringLiteral("DROVDebugWindowController"), bundle, parent) {}

void DROVDebugWindowController::windowDidLoad() {
    _clrView = Bundle::outlet<DROVColorView>(loadedWindow(), QStringLiteral("clrView"));
    _clrLabel = Bundle::outlet<QLabel>(loadedWindow(), QStringLiteral("clrLabel"));
}
