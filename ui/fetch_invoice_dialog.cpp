#include "ui/fetch_invoice_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

namespace fp::ui {

FetchInvoiceDialog::FetchInvoiceDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("从服务器下载发票"));
    auto* form = new QFormLayout(this);
    code_ = new QLineEdit(this);
    code_->setObjectName(QStringLiteral("fpdm"));
    code_->setMaxLength(12);
    number_ = new QLineEdit(this);
    number_->setObjectName(QStringLiteral("fphm"));
    number_->setMaxLength(8);
    number_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d{0,8}")), number_));
    form->addRow(QStringLiteral("发票代码"), code_);
    form->addRow(QStringLiteral("发票号码"), number_);
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons_->button(QDialogButtonBox::Ok)->setText(QStringLiteral("下载"));
    buttons_->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    form->addRow(buttons_);
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(code_, &QLineEdit::textChanged, this, &FetchInvoiceDialog::updateOk);
    connect(number_, &QLineEdit::textChanged, this, &FetchInvoiceDialog::updateOk);
    updateOk();
}

QString FetchInvoiceDialog::code() const { return code_->text().trimmed(); }

QString FetchInvoiceDialog::number() const {
    const QString n = number_->text().trimmed();
    return n.isEmpty() ? n : n.rightJustified(8, QLatin1Char('0'));
}

void FetchInvoiceDialog::updateOk() {
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(!code().isEmpty() && !number().isEmpty());
}

} // namespace fp::ui
