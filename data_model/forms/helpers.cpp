#include "data_model/data_store.h"
#include "data_model/forms/forms.h"

#include <QtGlobal>

namespace fp::forms {

FormColumn tableColumn(const QString& table, const QString& dbColumn, const QString& label, const QString& tag,
                       const QString& formName) {
    const TableDef* t = findTable(table);
    const ColumnDef* cd = t ? t->column(dbColumn) : nullptr;
    if (!cd) qFatal("form column %s.%s is not in the table description", qPrintable(table), qPrintable(dbColumn));
    FormColumn c;
    c.name = formName.isEmpty() ? dbColumn : formName;
    c.dbColumn = dbColumn;
    c.table = table;
    c.type = cd->type;
    c.width = cd->width;
    c.label = label;
    c.tag = tag;
    return c;
}

QList<CodeEntry> codes(std::initializer_list<std::pair<QString, QString>> pairs) {
    QList<CodeEntry> l;
    for (const auto& [display, stored] : pairs) l.append({display, stored});
    return l;
}

void addLabelObjects(FormDef& d) {
    auto add = [&](const FormColumn& c) {
        if (c.label.isEmpty() || d.text(c.name + QStringLiteral("_t"))) return;
        d.texts.push_back({c.name + QStringLiteral("_t"), c.label, QString(), c.visible});
    };
    for (const auto& c : d.columns) add(c);
    for (const auto& v : d.views) add(v);
}

void finish(FormDef& d) {
    for (auto& c : d.columns) {
        c.updatable = !d.updateTable.isEmpty() && c.table.compare(d.updateTable, Qt::CaseInsensitive) == 0;
        c.key = d.keyColumns.contains(c.name, Qt::CaseInsensitive);
    }
    for (const QString& k : d.keyColumns)
        if (d.columnIndex(k) < 0) qFatal("%s: key column %s missing", qPrintable(d.name), qPrintable(k));
    for (const auto& v : d.views)
        if (d.columnIndex(v.viewOf) < 0)
            qFatal("%s: view %s of a missing column", qPrintable(d.name), qPrintable(v.name));
    for (const QString& p : d.placeholderArgs) {
        bool found = false;
        for (const auto& a : d.arguments) found = found || a.name == p;
        found = found || d.fixedValues.contains(p);
        if (!found) qFatal("%s: placeholder for unknown argument %s", qPrintable(d.name), qPrintable(p));
    }
    if (d.select.count(QLatin1Char('?')) != d.placeholderArgs.size())
        qFatal("%s: placeholders and arguments disagree", qPrintable(d.name));
}

QString selectList(const FormDef& d, bool qualified) {
    QStringList l;
    for (const auto& c : d.columns) l << (qualified ? c.table + QLatin1Char('.') + c.dbColumn : c.dbColumn);
    return l.join(QStringLiteral(", "));
}

QVariant sumOf(const DataStore& s, const QString& column) {
    Decimal total;
    bool any = false;
    for (int r = 1; r <= s.rowCount(); ++r) {
        if (const auto d = s.getDecimal(r, column)) {
            total += *d;
            any = true;
        }
    }
    return any ? QVariant::fromValue(total) : QVariant();
}

QVariant maxTextOf(const DataStore& s, const QString& column) {
    QString best;
    bool any = false;
    for (int r = 1; r <= s.rowCount(); ++r) {
        if (s.isNull(r, column)) continue;
        const QString v = s.getString(r, column);
        if (!any || v > best) best = v;
        any = true;
    }
    return any ? QVariant(best) : QVariant();
}

ComputedField sumField(const QString& name, const QString& column, const QString& format) {
    ComputedField f;
    f.name = name;
    f.expression = QStringLiteral("sum(%1 for all)").arg(column);
    f.format = format;
    f.eval = [column](const DataStore& s, int) { return sumOf(s, column); };
    return f;
}

ComputedField rowNumberField(const QString& name) {
    ComputedField f;
    f.name = name;
    f.expression = QStringLiteral("getrow()");
    f.aggregate = false;
    f.eval = [](const DataStore&, int row) { return QVariant(qlonglong(row)); };
    return f;
}

ColourRule redWhenNegative(const QString& name) {
    return [name](const DataStore& s, int row) {
        const FormDef& d = s.def();
        std::optional<Decimal> v;
        if (d.computedField(name))
            v = Decimal::fromVariant(s.computed(name, row));
        else
            v = s.getDecimal(row, name);
        return v && v->sign() < 0 ? kColourRed : kColourBlack;
    };
}

} // namespace fp::forms
