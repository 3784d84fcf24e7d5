// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DROVPointingHandButton.h"

#include <QMouseEvent>
#include <QStyleOptionButton>

#include <utility>

namespace zwirl {

DROVPointingHandButton::DROVPointingHandButton(QWidget* parent) : QPushButton(parent) {
    setup();
}

void DROVPointingHandButton::setup() {
    // Moves without a pressed button reach mouseMoveEvent, which renews the cursor.
    setMouseTracking(true);
    // Return and Enter press the button that has the focus, as Space does; outside a dialog a
    // push button leaves them to its window otherwise.
    setAutoDefault(true);
}

// Qt delivers enter and leave over the button's current geometry, also while it is disabled,
// so nothing has to be rebuilt when it moves.
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
        // The press shows the normal image; the hover image returns only on the next entry.
        restoreNormalImage();
        setCursor(Qt::ArrowCursor);
    }
    QPushButton::mousePressEvent(event);
}

void DROVPointingHandButton::showPointingHandIfEnabled() {
    if (isEnabled())
        setCursor(Qt::PointingHandCursor);
}

void DROVPointingHandButton::restoreNormalImage() {
    if (m_oldImage)
        setIcon(*std::exchange(m_oldImage, std::nullopt));
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
