// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractAnimation>
#include <QAbstractButton>
#include <QLabel>
#include <QPointer>

#include <memory>

class QParallelAnimationGroup;
namespace Ui {
class DROVMainWindowController;
}

namespace zwirl {

// What the main window asks of the application.
class DROVMainControllerDelegate {
public:
    virtual ~DROVMainControllerDelegate() = default;
    virtual void controllerStartAction() = 0;
    virtual void controllerStopAction() = 0;
    virtual void controllerCloseAction() = 0;
    // The set-up notice's link: what the desktop needs so that runs record every click.
    virtual void controllerSetUpAction() {}
    virtual bool isTracking() const = 0;
};

// Runs the main window, whose holder view slides between the menu and the how-to page. One
// controller per showing of the window.
class DROVMainWindowController : public QObject {
    Q_OBJECT
public:
    static constexpr int kSlideDurationMs = 250;
    // Seconds that "Saving to desktop..." stays before the title is checked again.
    static constexpr double kTitleCheckDelay = 1.0;
    static constexpr const char* kMakerWebsite = "https://tolvarek.de";

    using QObject::QObject;

    void setDelegate(DROVMainControllerDelegate* delegate) { m_delegate = delegate; }
    QWidget* window();
    // Hides the window without asking the delegate.
    void close() { m_window->hide(); }

    QWidget* view() const { return m_view; }
    QWidget* holderView() const { return m_holderView; }
    QWidget* menuView() const { return m_menuView; }
    QAbstractButton* buttonStart() const { return m_buttonStart; }
    QWidget* howToView() const { return m_howToView; }
    QLabel* setUpNotice() const { return m_setUpNotice; }
    QWidget* currentPage() const { return m_currentPage; }
    QAbstractAnimation* pageSwapAnimation() const { return m_pageSwap; }

    void checkButtonTitle();
    // In the tagline's place, with `action` linking to the set-up; an empty text removes it.
    void showSetUp(const QString& text, const QString& action);
    bool delegateIsTracking() const { return m_delegate && m_delegate->isTracking(); }

    void startAction();
    void showHowTo() { replacePage(m_menuView, m_howToView); }
    void closeHowTo() { replacePage(m_howToView, m_menuView); }
    void closeWindow() {
        if (m_delegate)
            m_delegate->controllerCloseAction();
    }
    void tvkWebsite();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void windowDidLoad(const Ui::DROVMainWindowController& form);
    QParallelAnimationGroup* slideAnimation(int shift, QWidget* leaving, QWidget* entering) const;
    // The how-to page comes in from the right, the menu from the left; nothing when `leaving` is
    // not the page shown.
    void replacePage(QWidget* leaving, QWidget* entering);

    // The window may be sending the signal whose handler lets go of this controller.
    struct DeleteLater {
        void operator()(QWidget* window) const {
            window->hide();
            window->deleteLater();
        }
    };

    DROVMainControllerDelegate* m_delegate = nullptr;
    std::unique_ptr<QWidget, DeleteLater> m_window;
    QPointer<QWidget> m_view, m_holderView, m_menuView, m_howToView;
    QPointer<QAbstractButton> m_buttonStart;
    QPointer<QLabel> m_setUpNotice;
    QPointer<QWidget> m_currentPage;
    QPointer<QAbstractAnimation> m_pageSwap;
};

} // namespace zwirl
