#include "ui/DROVMainWindowController.h"

#include "platform/Application.h"
#include "platform/Workspace.h"
#include "services/TVKBlock.h"

#include <QEvent>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QUrl>

const char* const DROVMainWindowController::kMakerWebsite = "https://tolvarek.de";

std::shared_ptr<DROVMainWindowController>
DROVMainWindowController::create(const QString& windowNibName, const Bundle& bundle) {
    return std::make_shared<DROVMainWindowController>(CreateKey(), windowNibName, bundle);
}

DROVMainWindowController::DROVMainWindowController(CreateKey, QString windowNibName, Bundle bundle)
    : WindowController(std::move(windowNibName), std::move(bundle)) {}

DROVMainWindowController::~DROVMainWindowController() = default;

void DROVMainWindowController::windowDidLoad() {
    QWidget* window = loadedWindow();
    _view = Bundle::outlet<QWidget>(window, QStringLiteral("view"));
    _holderView = Bundle::outlet<QWidget>(window, QStringLiteral("holderView"));
    _menuView = Bundle::outlet<QWidget>(window, QStringLiteral("menuView"));
    _buttonStart = Bundle::outlet<QAbstractButton>(window, QStringLiteral("buttonStart"));
    _howToView = Bundle::outlet<QWidget>(window, QStringLiteral("howToView"));

    m_subviewsTransition = SlideDirection::FromRight;
    checkButtonTitle();
    // Floats above ordinary windows, with a title bar to move it by but none of the standard
    // title-bar buttons: the window's own controls close it.
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowStaysOnTopHint);
    if (_holderView)
        _holderView->installEventFilter(this);
    placePages();
}

// The menu page fills the holder; the how-to page waits hidden until it is pushed in.
void DROVMainWindowController::placePages() {
    if (!_holderView)
        return;
    if (_howToView)
        _howToView->hide();
    if (_menuView) {
        _menuView->setGeometry(_holderView->rect());
        _menuView->show();
    }
    m_currentPage = _menuView;
}

void DROVMainWindowController::startAction() {
    // The delegate may let go of this controller while it handles the request.
    const std::shared_ptr<DROVMainWindowController> self = weak_from_this().lock();
    const bool tracking = delegateIsTracking();
    DROVMainControllerDelegate* delegate = _delegate;
    if (!tracking) {
        if (delegate)
            delegate->controllerStartAction();
        checkButtonTitle();
        return;
    }
    if (delegate)
        delegate->controllerStopAction();
    if (_buttonStart)
        _buttonStart->setText(QStringLiteral("Saving to desktop..."));
    // The block holds the controller, so the check runs even after the window has closed.
    TVKBlock::performBlock(
        [self, guard = QPointer<DROVMainWindowController>(this)] {
            if (guard)
                guard->checkButtonTitle();
        },
        kTitleCheckDelay);
}

void DROVMainWindowController::checkButtonTitle() {
    if (!_buttonStart)
        return;
    _buttonStart->setText(delegateIsTracking() ? QStringLiteral("Stop tracking")
                                               : QStringLiteral("Start"));
}

bool DROVMainWindowController::delegateIsTracking() const {
    const ApplicationDelegate* appDelegate = Application::delegate();
    return appDelegate && appDelegate->isTracking();
}

void DROVMainWindowController::showHowTo() {
    replacePage(_menuView, _howToView);
    m_subviewsTransition = SlideDirection::FromLeft;
}

void DROVMainWindowController::closeHowTo() {
    if (_menuView)
        _menuView->update();
    replacePage(_howToView, _menuView);
    m_subviewsTransition = SlideDirection::FromRight;
}

void DROVMainWindowController::closeWindow() {
    if (_delegate)
        _delegate->controllerCloseAction();
}

// Whether a browser could be started is not looked at.
void DROVMainWindowController::tvkWebsite() {
    Workspace::sharedWorkspace().openURL(QUrl(QString::fromLatin1(kMakerWebsite)));
}

bool DROVMainWindowController::windowShouldClose() {
    if (!_delegate)
        return true;
    // Closed by the window manager: the delegate closes it and lets go of this controller,
    // after the close event is done with.
    QMetaObject::invokeMethod(this, &DROVMainWindowController::closeWindow, Qt::QueuedConnection);
    return false;
}

bool DROVMainWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == _holderView && event->type() == QEvent::Resize && m_currentPage) {
        finishPageSwap();
        m_currentPage->setGeometry(_holderView->rect());
    }
    return WindowController::eventFilter(watched, event);
}

void DROVMainWindowController::replacePage(QWidget* leaving, QWidget* entering) {
    finishPageSwap();
    if (!_holderView || !leaving || !entering || leaving == entering || m_currentPage != leaving)
        return;
    const int width = _holderView->width();
    const int startX = m_subviewsTransition == SlideDirection::FromRight ? width : -width;
    entering->setGeometry(QRect(QPoint(startX, 0), _holderView->size()));
    entering->show();
    entering->raise();
    m_currentPage = entering;

    QParallelAnimationGroup* swap = m_subviewsTransition == SlideDirection::FromRight
                                        ? slideAnimationFromRight(leaving, entering)
                                        : slideAnimationFromLeft(leaving, entering);
    connect(swap, &QAbstractAnimation::finished, this,
            [this, leaving = QPointer<QWidget>(leaving)] {
                if (leaving && leaving != m_currentPage)
                    leaving->hide();
            });
    m_pageSwap = swap;
    swap->start(QAbstractAnimation::DeleteWhenStopped);
}

// A swap asked for while another is still running starts from where the first one ends.
void DROVMainWindowController::finishPageSwap() {
    if (m_pageSwap && m_pageSwap->state() != QAbstractAnimation::Stopped)
        m_pageSwap->setCurrentTime(m_pageSwap->totalDuration());
}

QParallelAnimationGroup*
DROVMainWindowController::slideAnimationFromRight(QWidget* leaving, QWidget* entering) const {
    return slideAnimation(SlideDirection::FromRight, leaving, entering);
}

QParallelAnimationGroup* DROVMainWindowController::slideAnimationFromLeft(QWidget* leaving,
                                                                          QWidget* entering) const {
    return slideAnimation(SlideDirection::FromLeft, leaving, entering);
}

// A push: both pages move together by the holder's width, the entering page from the given
// side to the holder's origin, the leaving page out the other side.
QParallelAnimationGroup* DROVMainWindowController::slideAnimation(SlideDirection direction,
                                                                  QWidget* leaving,
                                                                  QWidget* entering) const {
    const int width = _holderView ? _holderView->width() : 0;
    const int shift = direction == SlideDirection::FromRight ? -width : width;
    auto* group = new QParallelAnimationGroup(_holderView);
    const auto addMove = [group](QWidget* page, QPoint from, QPoint to) {
        auto* move = new QPropertyAnimation(page, "pos", group);
        move->setDuration(kSlideDurationMs);
        move->setEasingCurve(QEasingCurve::InOutQuad);
        move->setStartValue(from);
        move->setEndValue(to);
        group->addAnimation(move);
    };
    addMove(leaving, QPoint(0, 0), QPoint(shift, 0));
    addMove(entering, QPoint(-shift, 0), QPoint(0, 0));
    return group;
}
