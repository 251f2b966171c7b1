#pragma once
// The dialogs port: every message box, question and modal choice a window
// raises goes through here. The GUI answers with Qt dialogs; tests answer from
// a script and record every text.
#include <QString>
#include <QVariantList>

namespace fp {

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
};

} // namespace fp
