// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DROVMainWindowController.h"

#include "services/TVKBlock.h"
#include "ui_DROVMainWindowController.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QShortcut>
#include <QUrl>

namespace zwirl {

QWidget* DROVMainWindowController::window() {
    if (!m_window) {
        m_window.reset(new QWidget);
        Ui::DROVMainWindowController form;
        form.setupUi(m_window.get());
        m_view = form.view;
        m_holderView = form.holderView;
        m_menuView = form.menuView;
        m_buttonStart = form.buttonStart;
        m_howToView = form.howToView;
        m_setUpNotice = form.labelSetUp;
        windowDidLoad(form);
    }
    return m_window.get();
}

void DROVMainWindowController::showSetUp(const QString& text, const QString& action) {
    window();
    QString html = text.toHtmlEscaped();
    if (!action.isEmpty())
        html += QStringLiteral(" <a href=\"set-up\" style=\"color: white; font-weight: bold;\">"
                               "%1</a>")
                    .arg(action.toHtmlEscaped());
    m_setUpNotice->setText(html);
    m_setUpNotice->setVisible(!text.isEmpty());
    m_menuView->findChild<QLabel*>(QStringLiteral("labelTagline"))->setVisible(text.isEmpty());
}

void DROVMainWindowController::windowDidLoad(const Ui::DROVMainWindowController& form) {
    using C = DROVMainWindowController;
    for (auto [button, action] :
         {std::pair<QAbstractButton*, void (C::*)()>(form.buttonStart, &C::startAction),
          {form.buttonHowTo, &C::showHowTo},
          {form.buttonBack, &C::closeHowTo},
          {form.buttonBackText, &C::closeHowTo},
          {form.buttonClose, &C::closeWindow},
          {form.buttonWebsite, &C::tvkWebsite}})
        connect(button, &QAbstractButton::clicked, this, action);
    connect(form.labelSetUp, &QLabel::linkActivated, this, [this] {
        if (m_delegate)
            m_delegate->controllerSetUpAction();
    });
    form.labelSetUp->hide();
    connect(new QShortcut(Qt::Key_Escape, m_window.get()), &QShortcut::activated, this,
            &C::closeWindow);

    checkButtonTitle();
    // A title bar to move it by, without buttons: the window's own controls close it.
    m_window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowStaysOnTopHint);
    // Shown, it leaves the focus with the application the user works in.
    m_window->setAttribute(Qt::WA_ShowWithoutActivating);
    m_window->installEventFilter(this);
    form.howToView->hide();
    m_currentPage = form.menuView;
    form.buttonStart->setFocus();
}

void DROVMainWindowController::startAction() {
    // The delegate may let go of this controller while it handles the request.
    const QPointer<DROVMainWindowController> self(this);
    if (!delegateIsTracking()) {
        if (m_delegate)
            m_delegate->controllerStartAction();
        if (self)
            checkButtonTitle();
        return;
    }
    m_delegate->controllerStopAction();
    if (!self)
        return;
    m_buttonStart->setText(QStringLiteral("Saving to desktop..."));
    TVKBlock::performBlock(
        [self] {
            if (self)
                self->checkButtonTitle();
        },
        kTitleCheckDelay);
}

void DROVMainWindowController::checkButtonTitle() {
    m_buttonStart->setText(delegateIsTracking() ? QStringLiteral("Stop tracking")
                                                : QStringLiteral("Start"));
}

void DROVMainWindowController::tvkWebsite() {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kMakerWebsite)));
}

bool DROVMainWindowController::eventFilter(QObject* watched, QEvent* event) {
    // Closed by the window manager: the delegate closes it once the close event is done with.
    if (event->type() == QEvent::Close && m_delegate) {
        event->ignore();
        QMetaObject::invokeMethod(this, &DROVMainWindowController::closeWindow,
                                  Qt::QueuedConnection);
        return true;
    }
    // Return or Enter that no button took presses the main button while the menu page shows.
    if (event->type() == QEvent::KeyPress && m_currentPage == m_menuView) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            m_buttonStart->animateClick();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void DROVMainWindowController::replacePage(QWidget* leaving, QWidget* entering) {
    // A swap asked for while another runs starts from where the first one ends.
    if (m_pageSwap && m_pageSwap->state() != QAbstractAnimation::Stopped)
        m_pageSwap->setCurrentTime(m_pageSwap->totalDuration());
    // Before the form is loaded all three are empty.
    if (leaving == entering || m_currentPage != leaving)
        return;
    entering->resize(m_holderView->size());
    entering->show();
    entering->raise();
    m_currentPage = entering;
    // Now, before the leaving page hides and hands the focus to whatever button comes next.
    if (auto* first = entering->findChild<QAbstractButton*>())
        first->setFocus();
    const int width = m_holderView->width();
    QParallelAnimationGroup* swap =
        slideAnimation(leaving == m_menuView ? -width : width, leaving, entering);
    connect(swap, &QAbstractAnimation::finished, this,
            [this, leaving = QPointer<QWidget>(leaving)] {
                if (leaving && leaving != m_currentPage)
                    leaving->hide();
            });
    m_pageSwap = swap;
    swap->start(QAbstractAnimation::DeleteWhenStopped);
}

// A push: both pages move together by `shift`, the entering page to the holder's origin.
QParallelAnimationGroup* DROVMainWindowController::slideAnimation(int shift, QWidget* leaving,
                                                                  QWidget* entering) const {
    auto* group = new QParallelAnimationGroup(m_holderView);
    for (auto [page, from] : {std::pair(leaving, 0), std::pair(entering, -shift)}) {
        auto* move = new QPropertyAnimation(page, "pos", group);
        move->setDuration(kSlideDurationMs);
        move->setEasingCurve(QEasingCurve::InOutQuad);
        move->setStartValue(QPoint(from, 0));
        move->setEndValue(QPoint(from + shift, 0));
        group->addAnimation(move);
    }
    return group;
}

} // namespace zwirl
