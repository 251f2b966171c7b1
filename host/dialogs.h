#pragma once
// The dialogs port: every message box, question and modal choice a window
// raises goes through here. The GUI answers with Qt dialogs; tests answer from
// a script and record every text.
#include <QString>
#include <QVariantList>

#include <optional>

namespace fp {

class DataStore;
struct ReportTable;

// s_preview_parameter: what a window hands the print preview w_dw_printpreview.
struct s_preview_parameter {
    // dw_datawindow: the print form, already retrieved and formatted.
    DataStore* dw_datawindow = nullptr;
    QString dw_datawindowname;
    QString s_print_type;
    QString s_col_date_format;
    bool b_col_visible_not_adjust = false;
    // "|col|col|": columns printed although the form does not mark them printable.
    QString s_col_visible_dynamic;
};

// s_printreturn: the preview's answer.
struct s_printreturn {
    // Copies printed; empty or below 1 when nothing was printed.
    std::optional<long> sl_printcnt;
    // The printer used; "0" means no printer is to be reported.
    QString ss_printer;
    QString ss_printer_info;
    bool sb_notspecprinter = false;
    bool sb_first = false;
};

// w_tree_select: "2" + title + "|" + prompt + "|" + a query yielding code, name,
// pcode. The query's values are bound, never pasted: `sql` holds '?' placeholders
// and `binds` the values in order.
struct TreeSelectRequest {
    QString kind = QStringLiteral("2");
    QString title;
    QString prompt;
    QString sql;
    QVariantList binds;
    // The parameter text as the dialog receives it (kind + title|prompt|sql).
    QString paramText() const { return kind + title + QLatin1Char('|') + prompt + QLatin1Char('|') + sql; }
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual void message(const QString& text) = 0;
    // Yes/no question: returns 1 for yes, 2 for no.
    virtual int question(const QString& text) = 0;
    // The issuer choice; a null QString means the dialog was cancelled/closed.
    virtual QString treeSelect(const TreeSelectRequest& request) = 0;
    // w_dw_printpreview: shows the print form, lets the user print, and answers
    // with what was printed. A port without a preview prints nothing.
    virtual s_printreturn printPreview(const s_preview_parameter& parameter) {
        (void)parameter;
        return {};
    }
    // The print preview of a report (a list, a summary), to a printer or a PDF.
    // A port without a preview prints nothing.
    virtual void previewReport(const ReportTable& report) { (void)report; }
    // Where to export to: a file name suggested by the window, answered with
    // the chosen file and its format ("xlsx", "csv" or "json"); an empty file
    // when the user cancelled. A port without a file chooser exports nothing.
    virtual QString chooseExportFile(const QString& suggestedName, QString* format) {
        (void)suggestedName;
        (void)format;
        return QString();
    }
    // The progress of a long command: `done` of `total` steps with a text;
    // false when the user asked to stop. A step with done == total ends it.
    virtual bool progress(const QString& text, int done, int total) {
        (void)text;
        (void)done;
        (void)total;
        return true;
    }
};

} // namespace fp
