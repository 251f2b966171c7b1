#pragma once
// The small dialog of "从服务器下载发票…": asks for an invoice code and number.
// OK is enabled once both are filled; a number shorter than 8 digits is padded
// with leading zeros.
#include <QDialog>

class QDialogButtonBox;
class QLineEdit;

namespace fp::ui {

class FetchInvoiceDialog : public QDialog {
    Q_OBJECT
public:
    explicit FetchInvoiceDialog(QWidget* parent = nullptr);

    QString code() const;
    QString number() const;

    QLineEdit* codeEdit() const { return code_; }
    QLineEdit* numberEdit() const { return number_; }

private:
    void updateOk();

    QLineEdit* code_ = nullptr;
    QLineEdit* number_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
};

} // namespace fp::ui
