#include "ui/form_widget.h"

#include "host/form_control.h"

#include <QLabel>
#include <QVBoxLayout>

namespace fp::ui {

FormWidget::FormWidget(FormControl& control, QWidget* parent) : QFrame(parent), control_(control) {
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setFocusPolicy(Qt::NoFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    caption_ = new QLabel(this);
    caption_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(caption_);
    mirror();
}

void FormWidget::mirror() {
    QString text = control_.dataObject();
    if (control_.readOnly()) text += QStringLiteral(" (只读)");
    if (caption_->text() != text) caption_->setText(text);
}

} // namespace fp::ui
