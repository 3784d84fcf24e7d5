// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/DROVColorView.h"

#include <QLabel>
#include <QObject>
#include <QPointer>

#include <memory>

namespace Ui {
class DROVDebugWindowController;
}

namespace zwirl {

// A small window showing one colour in a swatch and a text label: zwirl --debug opens it to show
// the colour of the last recorded click.
class DROVDebugWindowController : public QObject {
    Q_OBJECT
public:
    explicit DROVDebugWindowController(QObject* parent = nullptr);
    ~DROVDebugWindowController() override;

    // The window, built from its form on the first call.
    QWidget* window();

    // The outlets: empty until the window has been built.
    DROVColorView* clrView() const { return m_clrView; }
    QLabel* clrLabel() const { return m_clrLabel; }

    // The swatch in `colour`, named in the label as #rrggbb; an invalid colour says that none
    // was recorded yet.
    void showColor(const QColor& colour);

private:
    std::unique_ptr<QWidget> m_window;
    QPointer<DROVColorView> m_clrView;
    QPointer<QLabel> m_clrLabel;
};

} // namespace zwirl
