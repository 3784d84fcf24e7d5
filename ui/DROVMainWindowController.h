#pragma once

#include "ui/DROVMainControllerDelegate.h"
#include "ui/WindowController.h"

#include <QAbstractAnimation>
#include <QAbstractButton>
#include <QPointer>

#include <memory>

class QParallelAnimationGroup;

// Runs the main window: a small window above the others whose holder view shows either the
// menu page (with the start/stop button) or the how-to page, which push into one another.
// Presses become requests to the delegate; the start button's title shows the tracking state.
//
// Controllers are made by create() and shared: the application delegate holds one while the
// window exists, and a pending title check holds it until it has run.
class DROVMainWindowController : public WindowController,
                                 public std::enable_shared_from_this<DROVMainWindowController> {
    Q_OBJECT
    struct CreateKey {
        explicit CreateKey() = default;
    };

public:
    static constexpr int kSlideDurationMs = 250;
    // Seconds that "Saving to desktop..." stays before the title is checked again.
    static constexpr double kTitleCheckDelay = 1.0;
    static const char* const kMakerWebsite;

    static std::shared_ptr<DROVMainWindowController>
    create(const QString& windowNibName = QStringLiteral("DROVMainWindowController"),
           const Bundle& bundle = Bundle::mainBundle());
    DROVMainWindowController(CreateKey, QString windowNibName, Bundle bundle);
    ~DROVMainWindowController() override;

    // A plain reference, not owned and not cleared.
    DROVMainControllerDelegate* delegate() const { return _delegate; }
    void setDelegate(DROVMainControllerDelegate* delegate) { _delegate = delegate; }

    QWidget* view() const { return _view; }
    QWidget* holderView() const { return _holderView; }
    QWidget* menuView() const { return _menuView; }
    QAbstractButton* buttonStart() const { return _buttonStart; }
    QWidget* howToView() const { return _howToView; }
    // The page the holder shows, or is pushing in.
    QWidget* currentPage() const { return m_currentPage; }
    // The page swap in progress, if any.
    QAbstractAnimation* pageSwapAnimation() const { return m_pageSwap; }

    // "Stop tracking" during a tracking run, else "Start".
    void checkButtonTitle();
    bool delegateIsTracking() const;

public Q_SLOTS:
    // Actions of the interface file, connected by name.
    void startAction();
    void showHowTo();
    void closeHowTo();
    void closeWindow();
    void tvkWebsite();

protected:
    void windowDidLoad() override;
    bool windowShouldClose() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class SlideDirection { FromRight, FromLeft };

    QParallelAnimationGroup* slideAnimationFromRight(QWidget* leaving, QWidget* entering) const;
    QParallelAnimationGroup* slideAnimationFromLeft(QWidget* leaving, QWidget* entering) const;
    QParallelAnimationGroup* slideAnimation(SlideDirection direction, QWidget* leaving,
                                            QWidget* entering) const;
    // Pushes `entering` in over `leaving` with the stored slide; nothing when `leaving` is
    // not the page shown.
    void replacePage(QWidget* leaving, QWidget* entering);
    void finishPageSwap();
    void placePages();

    DROVMainControllerDelegate* _delegate = nullptr;
    QPointer<QWidget> _view;
    QPointer<QWidget> _holderView;
    QPointer<QWidget> _menuView;
    QPointer<QAbstractButton> _buttonStart;
    QPointer<QWidget> _howToView;

    // The slide that the next page swap plays.
    SlideDirection m_subviewsTransition = SlideDirection::FromRight;
    QPointer<QWidget> m_currentPage;
    QPointer<QAbstractAnimation> m_pageSwap;
};
