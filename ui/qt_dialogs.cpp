#include "ui/qt_dialogs.h"

#include "data_model/data_store.h"
#include "data_model/transaction.h"
#include "ui/print_offset_dialog.h"
#include "ui/print_preview.h"
#include "ui/report_preview.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace fp::ui {

namespace {
const QString kTitle = QStringLiteral("提示");
} // namespace

QWidget* QtDialogs::parentWidget() const {
    if (parent_) return parent_;
    return QApplication::activeWindow();
}

void QtDialogs::message(const QString& text) {
    QMessageBox box(QMessageBox::Information, kTitle, text, QMessageBox::Ok, parentWidget());
    box.setTextFormat(Qt::PlainText); // a server's text is shown as it came, never as markup
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    box.exec();
}

int QtDialogs::question(const QString& text) {
    QMessageBox box(QMessageBox::Question, kTitle, text, QMessageBox::Yes | QMessageBox::No, parentWidget());
    box.setTextFormat(Qt::PlainText);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("是(&Y)"));
    box.button(QMessageBox::No)->setText(QStringLiteral("否(&N)"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? 1 : 2;
}

QString QtDialogs::treeSelect(const TreeSelectRequest& request) {
    QList<QVariantList> rows;
    if (Transaction* t = session_.sqlca) {
        if (!t->exec(request.sql, request.binds)) {
            message(request.title + QStringLiteral("：") + t->sqlerrtext);
            return QString();
        }
        QSqlQuery& q = t->lastQuery();
        const QSqlRecord rec = q.record();
        int code = rec.indexOf(QStringLiteral("code"));
        int name = rec.indexOf(QStringLiteral("name"));
        if (code < 0) code = 0;
        if (name < 0) name = 1;
        while (q.next()) rows.append({q.value(code), q.value(name)});
    }
    TreeSelectDialog dlg(request, rows, parentWidget());
    if (dlg.exec() != QDialog::Accepted) return QString();
    return dlg.chosenName();
}

s_printreturn QtDialogs::printPreview(const s_preview_parameter& parameter) {
    if (!parameter.dw_datawindow || !parameter.dw_datawindow->def().layout) {
        s_printreturn none;
        none.sl_printcnt = 0;
        none.ss_printer = QStringLiteral("0");
        message(QStringLiteral("没有可打印的发票！"));
        return none;
    }
    PrinterOffsets offsets(clientSettings());
    PrintPreviewDialog preview(parameter, offsets, parentWidget());
    preview.exec();
    return preview.printReturn();
}

void QtDialogs::previewReport(const ReportTable& report) {
    ReportPreviewDialog preview(report, parentWidget());
    preview.exec();
}

QString QtDialogs::chooseExportFile(const QString& suggestedName, QString* format) {
    const QString xlsx = QStringLiteral("Excel 工作簿 (*.xlsx)");
    const QString csv = QStringLiteral("CSV 文件，UTF-8 (*.csv)");
    const QString json = QStringLiteral("JSON 文件 (*.json)");
    QString filter = xlsx;
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString file =
        QFileDialog::getSaveFileName(parentWidget(), QStringLiteral("导出"), QDir(dir).filePath(suggestedName),
                                     QStringList{xlsx, csv, json}.join(QStringLiteral(";;")), &filter);
    if (file.isEmpty()) return QString();
    const QString ending = QFileInfo(file).suffix().toLower();
    if (format) {
        if (ending == QLatin1String("xlsx") || ending == QLatin1String("csv") || ending == QLatin1String("json"))
            *format = ending;
        else
            *format = filter == csv    ? QStringLiteral("csv")
                      : filter == json ? QStringLiteral("json")
                                       : QStringLiteral("xlsx");
    }
    return file;
}

bool QtDialogs::progress(const QString& text, int done, int total) {
    if (!progress_) {
        if (done >= total) return true;
        progress_ = new QProgressDialog(text, QStringLiteral("取消"), 0, total, parentWidget());
        progress_->setWindowTitle(QStringLiteral("提示"));
        progress_->setWindowModality(Qt::WindowModal);
        progress_->setMinimumDuration(0);
        progress_->setAutoClose(false);
        progress_->setAutoReset(false);
    }
    progress_->setMaximum(total);
    progress_->setLabelText(text);
    progress_->setValue(done);
    QApplication::processEvents();
    const bool cancelled = progress_->wasCanceled();
    if (done >= total || cancelled) {
        progress_->close();
        progress_->deleteLater();
        progress_ = nullptr;
    }
    return !cancelled;
}

TreeSelectDialog::TreeSelectDialog(const TreeSelectRequest& request, const QList<QVariantList>& rows, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(request.title);
    setObjectName(QStringLiteral("w_tree_select"));
    auto* layout = new QVBoxLayout(this);
    auto* prompt = new QLabel(request.prompt, this);
    layout->addWidget(prompt);

    list_ = new QTreeWidget(this);
    list_->setColumnCount(2);
    list_->setHeaderLabels({QStringLiteral("编码"), QStringLiteral("名称")});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    for (const QVariantList& r : rows) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, r.value(0).toString());
        item->setText(1, r.value(1).toString());
    }
    list_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    list_->header()->setStretchLastSection(true);
    if (list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0));
    layout->addWidget(list_);

    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons_->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons_->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(list_->currentItem() != nullptr);
    layout->addWidget(buttons_);

    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QTreeWidget::itemActivated, this, [this] { accept(); });
    connect(list_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* cur) { buttons_->button(QDialogButtonBox::Ok)->setEnabled(cur != nullptr); });
    list_->setFocus();
    resize(360, 320);
}

QString TreeSelectDialog::chosenName() const {
    const QTreeWidgetItem* item = list_->currentItem();
    return item ? item->text(1) : QString();
}

} // namespace fp::ui
