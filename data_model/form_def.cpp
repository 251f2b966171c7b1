#include "data_model/form_def.h"

#include "data_model/forms/forms.h"

namespace fp {

namespace {
bool isDecimal(const QVariant& v) { return v.metaType() == QMetaType::fromType<Decimal>(); }
} // namespace

// The host's display patterns ("yyyy-mm-dd", "yyyy年mm月dd日", "yyyymmddhhmmss")
// use "mm" for the month except right after the hour.
QString formatDateTime(const QDateTime& dt, const QString& pattern) {
    if (!dt.isValid()) return QString();
    if (pattern.isEmpty()) return dt.toString(canonicalDateTimeFormat());
    QString p = pattern;
    p.replace(QStringLiteral("hh:mm"), QStringLiteral("HH:\x01"));
    p.replace(QStringLiteral("hhmm"), QStringLiteral("HH\x01"));
    p.replace(QStringLiteral("mm"), QStringLiteral("MM"));
    p.replace(QStringLiteral("hh"), QStringLiteral("HH"));
    p.replace(QChar(0x01), QStringLiteral("mm"));
    return dt.toString(p);
}

QString formatValue(const QVariant& v, const QString& pattern) {
    if (!v.isValid() || v.isNull()) return QString();
    const bool numeric = pattern.contains(u'0') || pattern.contains(u'#');
    if (isDecimal(v)) return numeric ? v.value<Decimal>().format(pattern) : v.value<Decimal>().toPlainString();
    if (v.metaType().id() == QMetaType::LongLong || v.metaType().id() == QMetaType::Int)
        return numeric ? Decimal::fromInt(v.toLongLong()).format(pattern) : QString::number(v.toLongLong());
    if (v.metaType().id() == QMetaType::QDateTime) return formatDateTime(v.toDateTime(), pattern);
    return v.toString();
}

const LayoutObject* PrintLayout::object(const QString& n) const {
    for (const auto& o : objects)
        if (o.name.compare(n, Qt::CaseInsensitive) == 0) return &o;
    return nullptr;
}

FormHostFunctions& formHostFunctions() {
    static FormHostFunctions functions;
    return functions;
}

int FormDef::columnIndex(const QString& n) const {
    for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i].name.compare(n, Qt::CaseInsensitive) == 0) return int(i);
    return -1;
}

const FormColumn* FormDef::column(const QString& n) const {
    const int i = columnIndex(n);
    if (i >= 0) return &columns[size_t(i)];
    for (const auto& v : views)
        if (v.name.compare(n, Qt::CaseInsensitive) == 0) return &v;
    return nullptr;
}

const TextObject* FormDef::text(const QString& n) const {
    for (const auto& t : texts)
        if (t.name.compare(n, Qt::CaseInsensitive) == 0) return &t;
    return nullptr;
}

const ComputedField* FormDef::computedField(const QString& n) const {
    for (const auto& c : computed)
        if (c.name.compare(n, Qt::CaseInsensitive) == 0) return &c;
    return nullptr;
}

QStringList FormDef::columnNames() const {
    QStringList l;
    for (const auto& c : columns) l << c.name;
    return l;
}

QString columnLabelOf(const FormColumn& column) {
    const QString beforeBar = column.tag.section(QLatin1Char('|'), 0, 0);
    if (!beforeBar.isEmpty()) return beforeBar;
    return column.label;
}

namespace {
const std::vector<FormDef>& registry() {
    static const std::vector<FormDef> defs = [] {
        std::vector<FormDef> all;
        for (auto* build : {&forms::invoiceForms, &forms::listForms})
            for (auto& d : build()) all.push_back(std::move(d));
        all.push_back(forms::integratedPrintForm());
        return all;
    }();
    return defs;
}
} // namespace

const FormDef* formDef(const QString& name) {
    for (const auto& d : registry())
        if (d.name.compare(name, Qt::CaseInsensitive) == 0) return &d;
    return nullptr;
}

QStringList formDefNames() {
    QStringList l;
    for (const auto& d : registry()) l << d.name;
    return l;
}

} // namespace fp
