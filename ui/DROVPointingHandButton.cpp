#include "ui/DROVPointingHandButton.h"

#include <QMouseEvent>
#include <QStyleOptionButton>

namespace zwirl {

DROVPointingHandButton::DROVPointingHandButton(QWidget* parent) : QPushButton(parent) {
    setup();
}

void DROVPointingHandButton::setup() {
    // Moves without a pressed button reach mouseMoveEvent, which renews the cursor.
    setMouseTracking(true);
}

// Qt delivers enter and leave over the button's current geometry, also while it is disabled
// and whether or not its window is active, so nothing has to be rebuilt when it moves.
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
    if (!m_oldImage)
        return;
    setIcon(*m_oldImage);
    m_oldImage.reset();
}

void DROVPointingHandButton::initStyleOption(QStyleOptionButton* option) const {
    QPushButton::initStyleOption(option);
    if (isEnabled() || option->icon.isNull())
        return;
    // The style draws a disabled button's icon greyed out; hand it the normal pixmap for the
    // disabled mode so the image looks the same either way.
    const QPixmap normal =
        option->icon.pixmap(option->iconSize, devicePixelRatio(), QIcon::Normal, QIcon::Off);
    QIcon undimmed;
    undimmed.addPixmap(normal, QIcon::Normal);
    undimmed.addPixmap(normal, QIcon::Disabled);
    option->icon = undimmed;
}

} // namespace zwirl
