#include "ui/DROVMainWindowController.h"

#include "services/TVKBlock.h"
#include "ui_DROVMainWindowController.h"

#include <QDesktopServices>
#include <QEvent>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QUrl>

namespace zwirl {

const char* const DROVMainWindowController::kMakerWebsite = "https://tolvarek.de";

void DROVMainWindowController::DeleteLater::operator()(QWidget* window) const {
    window->hide();
    window->deleteLater();
}

DROVMainWindowController::DROVMainWindowController(QObject* parent) : QObject(parent) {}

DROVMainWindowController::~DROVMainWindowController() = default;

QWidget* DROVMainWindowController::window() {
    if (!m_window) {
        m_window.reset(new QWidget);
        m_form = std::make_unique<Ui::DROVMainWindowController>();
        m_form->setupUi(m_window.get());
        windowDidLoad();
    }
    return m_window.get();
}

QWidget* DROVMainWindowController::view() const {
    return m_form ? m_form->view : nullptr;
}
QWidget* DROVMainWindowController::holderView() const {
    return m_form ? m_form->holderView : nullptr;
}
QWidget* DROVMainWindowController::menuView() const {
    return m_form ? m_form->menuView : nullptr;
}
QAbstractButton* DROVMainWindowController::buttonStart() const {
    return m_form ? m_form->buttonStart : nullptr;
}
QWidget* DROVMainWindowController::howToView() const {
    return m_form ? m_form->howToView : nullptr;
}

void DROVMainWindowController::windowDidLoad() {
    const Ui::DROVMainWindowController& form = *m_form;
    connect(form.buttonStart, &QAbstractButton::clicked, this,
            &DROVMainWindowController::startAction);
    connect(form.buttonHowTo, &QAbstractButton::clicked, this,
            &DROVMainWindowController::showHowTo);
    connect(form.buttonBack, &QAbstractButton::clicked, this,
            &DROVMainWindowController::closeHowTo);
    connect(form.buttonBackText, &QAbstractButton::clicked, this,
            &DROVMainWindowController::closeHowTo);
    connect(form.buttonClose, &QAbstractButton::clicked, this,
            &DROVMainWindowController::closeWindow);
    connect(form.buttonWebsite, &QAbstractButton::clicked, this,
            &DROVMainWindowController::tvkWebsite);

    m_subviewsTransition = SlideDirection::FromRight;
    checkButtonTitle();
    // Floats above ordinary windows, with a title bar to move it by but none of the standard
    // title-bar buttons: the window's own controls close it.
    m_window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowStaysOnTopHint);
    m_window->installEventFilter(this);
    form.holderView->installEventFilter(this);
    // The menu page fills the holder; the how-to page waits hidden until it is pushed in.
    form.howToView->hide();
    form.menuView->setGeometry(form.holderView->rect());
    form.menuView->show();
    m_currentPage = form.menuView;
}

void DROVMainWindowController::close() {
    if (!m_window)
        return;
    m_closing = true;
    m_window->close();
    m_closing = false;
}

void DROVMainWindowController::startAction() {
    // The delegate may let go of this controller while it handles the request.
    const QPointer<DROVMainWindowController> self(this);
    const bool tracking = delegateIsTracking();
    DROVMainControllerDelegate* delegate = m_delegate;
    if (!tracking) {
        if (delegate)
            delegate->controllerStartAction();
        if (self)
            checkButtonTitle();
        return;
    }
    if (delegate)
        delegate->controllerStopAction();
    if (!self)
        return;
    if (buttonStart())
        buttonStart()->setText(QStringLiteral("Saving to desktop..."));
    // A controller let go of meanwhile has no window left to show the title in.
    TVKBlock::performBlock(
        [self] {
            if (self)
                self->checkButtonTitle();
        },
        kTitleCheckDelay);
}

void DROVMainWindowController::checkButtonTitle() {
    if (buttonStart())
        buttonStart()->setText(delegateIsTracking() ? QStringLiteral("Stop tracking")
                                                    : QStringLiteral("Start"));
}

bool DROVMainWindowController::delegateIsTracking() const {
    return m_delegate && m_delegate->isTracking();
}

void DROVMainWindowController::showHowTo() {
    replacePage(menuView(), howToView());
    m_subviewsTransition = SlideDirection::FromLeft;
}

void DROVMainWindowController::closeHowTo() {
    if (menuView())
        menuView()->update();
    replacePage(howToView(), menuView());
    m_subviewsTransition = SlideDirection::FromRight;
}

void DROVMainWindowController::closeWindow() {
    if (m_delegate)
        m_delegate->controllerCloseAction();
}

// Whether a browser could be started is not looked at.
void DROVMainWindowController::tvkWebsite() {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kMakerWebsite)));
}

bool DROVMainWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window.get() && event->type() == QEvent::Close && !m_closing && m_delegate) {
        // Closed by the window manager: the delegate closes it and lets go of this controller,
        // once the close event is done with.
        event->ignore();
        QMetaObject::invokeMethod(this, &DROVMainWindowController::closeWindow,
                                  Qt::QueuedConnection);
        return true;
    }
    if (watched == holderView() && event->type() == QEvent::Resize && m_currentPage) {
        finishPageSwap();
        m_currentPage->setGeometry(holderView()->rect());
    }
    return QObject::eventFilter(watched, event);
}

void DROVMainWindowController::replacePage(QWidget* leaving, QWidget* entering) {
    finishPageSwap();
    QWidget* holder = holderView();
    if (!holder || !leaving || !entering || leaving == entering || m_currentPage != leaving)
        return;
    const int width = holder->width();
    const int startX = m_subviewsTransition == SlideDirection::FromRight ? width : -width;
    entering->setGeometry(QRect(QPoint(startX, 0), holder->size()));
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
    const int shift =
        direction == SlideDirection::FromRight ? -holderView()->width() : holderView()->width();
    auto* group = new QParallelAnimationGroup(holderView());
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

} // namespace zwirl
