#include "ui/DROVColorView.h"

#include <QPaintEvent>
#include <QPainter>

DROVColorView::DROVColorView(QWidget* parent) : QWidget(parent) {}

void DROVColorView::setColor(const QColor& color) {
    _col = color;
    update();
}

void DROVColorView::paintEvent(QPaintEvent* event) {
    if (!_col.isValid())
        return;
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(event->rect(), _col);
}
