// SPDX-License-Identifier: GPL-3.0-or-later
// A Wayland client for the GNOME tests: a full-screen window whose left and right halves show
// the two colours given, saying "in" or "out" on stdout as the pointer enters or leaves it
// (also when another window comes over the pointer or goes).
#include <QApplication>
#include <QEnterEvent>
#include <QPainter>
#include <QWidget>

#include <cstdio>

class Halves : public QWidget {
public:
    Halves(QColor left, QColor right) : m_left(left), m_right(right) {}

protected:
    void enterEvent(QEnterEvent*) override { say("in\n"); }
    void leaveEvent(QEvent*) override { say("out\n"); }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(0, 0, width() / 2, height(), m_left);
        painter.fillRect(width() / 2, 0, width() - width() / 2, height(), m_right);
    }

private:
    static void say(const char* what) {
        std::fputs(what, stdout);
        std::fflush(stdout);
    }
    QColor m_left, m_right;
};

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "wayland");
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    Halves window(QColor(args.value(1)), QColor(args.value(2)));
    window.showFullScreen();
    return QApplication::exec();
}
