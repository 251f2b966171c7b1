#include "ui/form_widget.h"

#include "data_model/data_store.h"
#include "host/base_window.h"
#include "host/form_control.h"
#include "ui/form_view.h"
#include "ui/grid_view.h"

#include <QApplication>
#include <QVBoxLayout>

namespace fp::ui {

FormWidget::FormWidget(FormControl& control, QWidget* parent) : QFrame(parent), control_(control) {
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    focusWatch_ =
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { focusChanged(now); });
    mirror();
}

FormWidget::~FormWidget() { disconnect(focusWatch_); }

void FormWidget::mirror() {
    // A hidden form is built when it is first shown.
    if (!control_.visible && !formView_ && !gridView_) return;
    const FormDef* def = control_.store() ? &control_.store()->def() : formDef(control_.dataObject());
    const bool freeForm = def && def->kind == FormKind::FreeForm;
    auto leave = [this](bool forward) {
        if (onLeave) onLeave(forward);
    };
    auto commandKey = [this](const QKeyEvent& e) { return isCommandKey && isCommandKey(e); };
    if (freeForm && !formView_) {
        delete gridView_;
        gridView_ = nullptr;
        formView_ = new FormView(control_, this);
        formView_->onLeave = leave;
        formView_->isCommandKey = commandKey;
        layout()->addWidget(formView_);
    } else if (!freeForm && !gridView_) {
        delete formView_;
        formView_ = nullptr;
        gridView_ = new GridView(control_, this);
        gridView_->onLeave = leave;
        gridView_->setCommandKeys(commandKey);
        layout()->addWidget(gridView_);
    }
    QWidget* target = nullptr;
    if (formView_) {
        formView_->mirror();
        target = formView_->focusTarget();
    } else {
        gridView_->mirror();
        target = gridView_->focusTarget();
    }
    if (focusProxy() != target) setFocusProxy(target);
}

void FormWidget::focusChanged(QWidget* now) {
    if (!now || !isAncestorOf(now)) return;
    BaseWindow* w = control_.parent();
    if (w && w->focused() != &control_) control_.setFocus();
}

} // namespace fp::ui
