#include "host/judge_column.h"

#include "data_model/data_store.h"
#include "host/host_services.h"
#include "host/text_helpers.h"

namespace fp {

namespace {
bool blank(const QVariant& v) {
    if (!v.isValid() || v.isNull()) return true;
    if (v.metaType().id() == QMetaType::QString) return v.toString().trimmed().isEmpty();
    return false;
}

QString messageLabel(const DataStore& store, const QString& column) {
    QString label = store.columnLabel(column);
    label.remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
    label = label.trimmed();
    return label.isEmpty() ? column : label;
}
} // namespace

bool gf_judge_dw_column_isnull(HostServices& host, DataStore& store, int* badRow, QString* badColumn) {
    const FormDef& def = store.def();
    std::vector<const FormColumn*> order;
    for (const FormColumn& c : def.columns) {
        order.push_back(&c);
        for (const FormColumn& v : def.views)
            if (v.viewOf.compare(c.name, Qt::CaseInsensitive) == 0) order.push_back(&v);
    }
    for (int row = 1; row <= store.rowCount(); ++row) {
        for (const FormColumn* c : order) {
            if (!c->required() || !blank(store.getVariant(row, c->name))) continue;
            const QString label = messageLabel(store, c->name);
            const bool many = def.kind == FormKind::Grid && store.rowCount() > 1;
            host.mess(many ? QStringLiteral("第%1行%2不能为空！").arg(row).arg(label)
                           : label + QStringLiteral("不能为空！"));
            if (badRow) *badRow = row;
            if (badColumn) *badColumn = c->name;
            return false;
        }
    }
    return true;
}

void installFormHostFunctions() {
    formHostFunctions().convertToBig = [](const Decimal& d) { return f_convert_to_big(d); };
}

} // namespace fp
