#pragma once
// The widget that shows a form control (uo_dw_grid). For now a framed surface
// naming the form definition it shows; the form and grid views take its place.
#include <QFrame>

class QLabel;

namespace fp {
class FormControl;
}

namespace fp::ui {

class FormWidget : public QFrame {
    Q_OBJECT
public:
    FormWidget(FormControl& control, QWidget* parent);
    // Mirrors the control's definition name and read-only mode.
    void mirror();

private:
    FormControl& control_;
    QLabel* caption_ = nullptr;
};

} // namespace fp::ui
