// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

namespace zwirl {

// The main window's background: white, with the coloured band across its top.
class DROVMainWindowView : public QWidget {
    Q_OBJECT
public:
    explicit DROVMainWindowView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace zwirl
