// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DROVMainWindowView.h"

#include <QPaintEvent>
#include <QPainter>

namespace zwirl {

DROVMainWindowView::DROVMainWindowView(QWidget* parent) : QWidget(parent) {
    // Every pixel is painted here, so Qt need not clear the area first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void DROVMainWindowView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::white);
    // The band, 190 points high, is filled whole on every paint.
    painter.fillRect(QRect(0, 0, width(), 190), QColor(255, 103, 102));
}

} // namespace zwirl
