// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QWidget>

namespace zwirl {

// A swatch that fills itself with one colour. It starts without a colour and then draws
// nothing, so whatever lies behind it shows through.
class DROVColorView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    // Keeps the colour (an invalid QColor clears it) and repaints the whole view.
    void setColor(const QColor& color);
    const QColor& color() const { return m_col; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_col;
};

} // namespace zwirl
