// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DROVColorView.h"

#include <QPaintEvent>
#include <QPainter>

namespace zwirl {

void DROVColorView::setColor(const QColor& color) {
    m_col = color;
    update();
}

void DROVColorView::paintEvent(QPaintEvent* event) {
    if (!m_col.isValid())
        return;
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(event->rect(), m_col);
}

} // namespace zwirl
