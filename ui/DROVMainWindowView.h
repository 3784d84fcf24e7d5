#pragma once

#include <QColor>
#include <QWidget>

namespace zwirl {

// The main window's background: white, with the coloured band across its top.
class DROVMainWindowView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kBandHeight = 190;
    static QColor bandColor() { return QColor(255, 103, 102); }

    explicit DROVMainWindowView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace zwirl
