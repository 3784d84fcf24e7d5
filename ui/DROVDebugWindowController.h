// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QLabel>
#include <QPointer>

#include <memory>

namespace zwirl {

// A swatch of one colour; without a colour it draws nothing, so what lies behind shows through.
class DROVColorView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    void setColor(const QColor& color) {
        m_col = color;
        update();
    }
    const QColor& color() const { return m_col; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_col;
};

// zwirl --debug's window: the colour of the last recorded click in a swatch and a label.
class DROVDebugWindowController : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    QWidget* window();
    DROVColorView* clrView() const { return m_clrView; }
    QLabel* clrLabel() const { return m_clrLabel; }
    // An invalid colour says that no click was recorded yet.
    void showColor(const QColor& colour);

private:
    std::unique_ptr<QWidget> m_window;
    QPointer<DROVColorView> m_clrView;
    QPointer<QLabel> m_clrLabel;
};

} // namespace zwirl
