#pragma once
// The dialogs port answered with Qt dialogs: messages and yes/no questions as
// message boxes titled "提示", the issuer choice as a modal list of the rows of
// the request's query.
#include "host/dialogs.h"
#include "host/session.h"

#include <QDialog>
#include <QPointer>

class QTreeWidget;
class QDialogButtonBox;
class QProgressDialog;

namespace fp::ui {

class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(Session& session, QWidget* parent = nullptr) : session_(session), parent_(parent) {}
    // The window the dialogs are modal to (the main window once it exists).
    void setParent(QWidget* parent) { parent_ = parent; }

    void message(const QString& text) override;
    // 1 for 是 (yes), 2 for 否 (no).
    int question(const QString& text) override;
    // The chosen row's name; a null QString when cancelled.
    QString treeSelect(const TreeSelectRequest& request) override;
    // The print preview w_dw_printpreview, with the printers' offsets from the
    // client's settings.
    s_printreturn printPreview(const s_preview_parameter& parameter) override;
    // A save-file dialog with the three formats; the format follows the
    // chosen file's ending, else the chosen filter.
    QString chooseExportFile(const QString& suggestedName, QString* format) override;
    // The report preview: the pages on A4 landscape, to a printer or a PDF.
    void previewReport(const ReportTable& report) override;
    // A modal progress dialog with 取消; it closes when done reaches total.
    bool progress(const QString& text, int done, int total) override;

private:
    QWidget* parentWidget() const;
    Session& session_;
    QPointer<QWidget> parent_;
    QPointer<QProgressDialog> progress_;
};

// The choice dialog behind treeSelect: title and prompt of the request, one
// row per result of its query (columns code and name). OK (or Enter, or a
// double click) takes the current row.
class TreeSelectDialog : public QDialog {
    Q_OBJECT
public:
    TreeSelectDialog(const TreeSelectRequest& request, const QList<QVariantList>& rows, QWidget* parent = nullptr);
    QTreeWidget* list() const { return list_; }
    // The name of the current row; a null QString when there is none.
    QString chosenName() const;

private:
    QTreeWidget* list_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
};

} // namespace fp::ui
