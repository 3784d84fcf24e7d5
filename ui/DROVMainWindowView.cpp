// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DROVMainWindowView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>

namespace zwirl {

void DROVMainWindowView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::white);
    painter.fillRect(QRect(0, 0, width(), 190), QColor(255, 103, 102));
}

DROVPointingHandButton::DROVPointingHandButton(QWidget* parent) : QPushButton(parent) {
    // Moves without a pressed button reach mouseMoveEvent, which renews the cursor.
    setMouseTracking(true);
    // Outside a dialog a push button leaves Return and Enter to its window otherwise.
    setAutoDefault(true);
}

void DROVPointingHandButton::enterEvent(QEnterEvent* event) {
    showPointingHandIfEnabled();
    if (!m_alternateImage.isNull()) {
        m_oldImage = icon();
        setIcon(m_alternateImage);
    }
    QPushButton::enterEvent(event);
}

void DROVPointingHandButton::mouseMoveEvent(QMouseEvent* event) {
    // Something else may have changed the cursor since the pointer came in.
    showPointingHandIfEnabled();
    QPushButton::mouseMoveEvent(event);
}

void DROVPointingHandButton::leaveEvent(QEvent* event) {
    setCursor(Qt::ArrowCursor);
    restoreNormalImage();
    QPushButton::leaveEvent(event);
}

void DROVPointingHandButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        // The hover image returns only on the next entry.
        restoreNormalImage();
        setCursor(Qt::ArrowCursor);
    }
    QPushButton::mousePressEvent(event);
}

void DROVPointingHandButton::initStyleOption(QStyleOptionButton* option) const {
    QPushButton::initStyleOption(option);
    if (isEnabled() || option->icon.isNull())
        return;
    // The style greys out a disabled button's icon; hand it the normal pixmap for that mode.
    const QPixmap normal =
        option->icon.pixmap(option->iconSize, devicePixelRatio(), QIcon::Normal, QIcon::Off);
    QIcon undimmed;
    undimmed.addPixmap(normal, QIcon::Normal);
    undimmed.addPixmap(normal, QIcon::Disabled);
    option->icon = undimmed;
}

} // namespace zwirl
