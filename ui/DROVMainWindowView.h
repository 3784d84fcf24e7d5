// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>
#include <QPushButton>

#include <optional>
#include <utility>

namespace zwirl {

// The main window's background: white, with the coloured band across its top.
class DROVMainWindowView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Shows the pointing hand while hovered and, when it has one, its alternate image; its image is
// never dimmed when disabled.
class DROVPointingHandButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(QIcon alternateImage READ alternateImage WRITE setAlternateImage)
public:
    explicit DROVPointingHandButton(QWidget* parent = nullptr);

    QIcon alternateImage() const { return m_alternateImage; }
    void setAlternateImage(const QIcon& image) { m_alternateImage = image; }

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void initStyleOption(QStyleOptionButton* option) const override;

private:
    void showPointingHandIfEnabled() {
        if (isEnabled())
            setCursor(Qt::PointingHandCursor);
    }
    void restoreNormalImage() {
        if (m_oldImage)
            setIcon(*std::exchange(m_oldImage, std::nullopt));
    }

    QIcon m_alternateImage;
    // The normal image (maybe null) while the alternate one is shown.
    std::optional<QIcon> m_oldImage;
};

} // namespace zwirl
