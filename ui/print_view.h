#pragma once
// PrintView: a read-only view of a print form as it prints, painted by the
// invoice print renderer on a sheet of the invoice paper. The reprint and void
// windows embed it to show the invoice; it never edits the form.
#include "services/print_render.h"

#include <QWidget>

namespace fp {
class DataStore;
}

namespace fp::ui {

class PrintView : public QWidget {
    Q_OBJECT
public:
    explicit PrintView(QWidget* parent = nullptr);

    // The form shown (not owned); nullptr shows a blank sheet. Call refresh()
    // after the form's rows change.
    void setForm(const DataStore* form);
    const DataStore* form() const { return form_; }
    // The whole form by default: headings, rules and values.
    void setOptions(const PrintOptions& options);
    const PrintOptions& options() const { return options_; }
    void refresh() { update(); }

    // The sheet's width on screen in pixels for the widget's width (the sheet
    // fills the width less a margin); its height follows the paper.
    QRect sheetRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const DataStore* form_ = nullptr;
    PrintOptions options_;
};

} // namespace fp::ui
