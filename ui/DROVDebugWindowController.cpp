// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DROVDebugWindowController.h"

#include "ui_DROVDebugWindowController.h"

#include <QPaintEvent>
#include <QPainter>

namespace zwirl {

void DROVColorView::paintEvent(QPaintEvent* event) {
    if (!m_col.isValid())
        return;
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(event->rect(), m_col);
}

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

void DROVDebugWindowController::showColor(const QColor& colour) {
    window();
    m_clrView->setColor(colour);
    m_clrLabel->setText(colour.isValid() ? QStringLiteral("Last click: %1").arg(colour.name())
                                         : QStringLiteral("No click recorded yet."));
}

} // namespace zwirl
