#pragma once

#include "ui/DROVColorView.h"
#include "ui/WindowController.h"

#include <QLabel>
#include <QPointer>

// The controller of a small window showing one colour in a swatch and a text label. Nothing
// in the application opens it; it is there for whoever wants to look at a colour.
class DROVDebugWindowController : public WindowController {
    Q_OBJECT
public:
    explicit DROVDebugWindowController(const Bundle& bundle = Bundle::mainBundle(),
                                       QObject* parent = nullptr);

    // Empty until the window has been loaded.
    DROVColorView* clrView() const { return _clrView; }
    void setClrView(DROVColorView* view) { _clrView = view; }
    QLabel* clrLabel() const { return _clrLabel; }
    void setClrLabel(QLabel* label) { _clrLabel = label; }

protected:
    void windowDidLoad() override;

private:
    QPointer<DROVColorView> _clrView;
    QPointer<QLabel> _clrLabel;
};
