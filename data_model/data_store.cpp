#include "data_model/data_store.h"

#include "data_model/transaction.h"

#include <QRegularExpression>
#include <QSqlQuery>
#include <algorithm>

namespace fp {

namespace {

bool isDecimal(const QVariant& v) { return v.metaType() == QMetaType::fromType<Decimal>(); }

QDateTime parseDateText(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty()) return QDateTime();
    static const char* const dateTimeFormats[] = {"yyyy-MM-dd HH:mm:ss", "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-dd HH:mm",
                                                  "yyyy/MM/dd HH:mm:ss", "yyyy/M/d H:mm:ss",    "yyyy-M-d H:mm:ss"};
    for (const char* f : dateTimeFormats) {
        const QDateTime dt = QDateTime::fromString(t, QString::fromLatin1(f));
        if (dt.isValid()) return dt;
    }
    static const char* const dateFormats[] = {"yyyy-MM-dd", "yyyy-M-d", "yyyy/MM/dd",
                                              "yyyy/M/d",   "yyyyMMdd", "yyyy.MM.dd"};
    for (const char* f : dateFormats) {
        const QDate d = QDate::fromString(t, QString::fromLatin1(f));
        if (d.isValid()) return d.startOfDay();
    }
    const QDate d = QDate::fromString(t, QStringLiteral("yyyy年M月d日"));
    if (d.isValid()) return d.startOfDay();
    return QDateTime();
}

QDateTime wholeSeconds(const QDateTime& dt) { return dt.isValid() ? dt.addMSecs(-dt.time().msec()) : dt; }

int compareValues(const QVariant& a, const QVariant& b) {
    const bool an = !a.isValid(), bn = !b.isValid();
    if (an || bn) return an == bn ? 0 : (an ? -1 : 1);
    if (isDecimal(a) && isDecimal(b)) {
        const Decimal x = a.value<Decimal>(), y = b.value<Decimal>();
        return x < y ? -1 : (y < x ? 1 : 0);
    }
    if (a.metaType().id() == QMetaType::QDateTime && b.metaType().id() == QMetaType::QDateTime) {
        const QDateTime x = a.toDateTime(), y = b.toDateTime();
        return x < y ? -1 : (y < x ? 1 : 0);
    }
    if (a.metaType().id() == QMetaType::LongLong && b.metaType().id() == QMetaType::LongLong) {
        const qlonglong x = a.toLongLong(), y = b.toLongLong();
        return x < y ? -1 : (y < x ? 1 : 0);
    }
    return a.toString().compare(b.toString());
}

} // namespace

DataStore::DataStore(const FormDef& def, Transaction& transaction) : def_(def), tx_(&transaction) {
    for (const auto& t : def_.texts) objectTexts_.insert(t.name.toLower(), t.text);
    auto addChild = [&](const FormColumn& c) {
        if (c.edit != EditStyle::DropDown) return;
        if (const FormDef* cd = formDef(c.dropDown.form))
            children_[c.name.toLower()] = std::make_unique<DataStore>(*cd, transaction);
    };
    for (const auto& c : def_.columns) addChild(c);
    for (const auto& v : def_.views) addChild(v);
}

DataStore::~DataStore() = default;

void DataStore::setTransaction(Transaction& transaction) {
    tx_ = &transaction;
    for (auto& [name, child] : children_) child->setTransaction(transaction);
}

// ---- lookup ----

DataStore::Ref DataStore::ref(const QString& column) const {
    Ref r;
    const int i = def_.columnIndex(column);
    if (i >= 0) {
        r.index = i;
        r.def = &def_.columns[size_t(i)];
        return r;
    }
    for (const auto& v : def_.views) {
        if (v.name.compare(column, Qt::CaseInsensitive) == 0) {
            r.index = def_.columnIndex(v.viewOf);
            r.def = &v;
            return r;
        }
    }
    return r;
}

DataStore::Ref DataStore::ref(int column) const {
    Ref r;
    if (column >= 1 && column <= columnCount()) {
        r.index = column - 1;
        r.def = &def_.columns[size_t(column - 1)];
    }
    return r;
}

const DataStore::Row* DataStore::rowAt(int row) const {
    if (row < 1 || row > rowCount()) return nullptr;
    return &primary_[size_t(row - 1)];
}

DataStore::Row* DataStore::rowAt(int row) {
    if (row < 1 || row > rowCount()) return nullptr;
    return &primary_[size_t(row - 1)];
}

// ---- retrieval and rows ----

QVariant DataStore::decode(const FormColumn& c, const QVariant& stored) const {
    if (!stored.isValid() || stored.isNull()) return QVariant();
    switch (c.type) {
    case ColType::Text: return stored.toString();
    case ColType::Decimal2: {
        const auto d = tx_->decimalAt(stored);
        return d ? QVariant::fromValue(*d) : QVariant();
    }
    case ColType::DateTime: {
        const QDateTime dt = tx_->dateTimeAt(stored);
        return dt.isValid() ? QVariant(dt) : QVariant();
    }
    case ColType::Whole:
    case ColType::Identity: {
        bool ok = false;
        const qlonglong v = stored.toLongLong(&ok);
        if (ok) return v;
        const auto d = Decimal::fromVariant(stored);
        return d && d->fitsStorage() ? QVariant(qlonglong(d->toCents() / 100)) : QVariant();
    }
    }
    return stored;
}

int DataStore::retrieve(const QVariantList& args) {
    lastError_.clear();
    if (args.size() != qsizetype(def_.arguments.size())) {
        lastError_ = QStringLiteral("“%1”需要%2个检索参数，实际传入%3个")
                         .arg(def_.name)
                         .arg(def_.arguments.size())
                         .arg(args.size());
        return -1;
    }
    QVariantList binds;
    for (const QString& name : def_.placeholderArgs) {
        if (def_.fixedValues.contains(name)) {
            binds << def_.fixedValues.value(name);
            continue;
        }
        for (size_t i = 0; i < def_.arguments.size(); ++i)
            if (def_.arguments[i].name == name) binds << args[qsizetype(i)];
    }
    const QList<QVariantList> rows = tx_->selectAll(def_.select, binds);
    if (tx_->sqlcode == -1) {
        lastError_ = tx_->sqlerrtext;
        return -1;
    }
    std::vector<Row> fresh;
    fresh.reserve(size_t(rows.size()));
    const int n = columnCount();
    for (const QVariantList& values : rows) {
        Row r;
        r.status = RowStatus::NotModified;
        r.modified.assign(size_t(n), false);
        for (int i = 0; i < n; ++i)
            r.current << decode(def_.columns[size_t(i)], i < values.size() ? values[i] : QVariant());
        r.original = r.current;
        fresh.push_back(std::move(r));
    }
    primary_ = std::move(fresh);
    deleted_.clear();
    ensureChildrenRetrieved();
    return rowCount();
}

// Lists without arguments are read together with the form that shows them, as
// long as nobody has filled them yet.
void DataStore::ensureChildrenRetrieved() {
    for (auto& [name, child] : children_)
        if (child->def().arguments.empty() && child->rowCount() == 0)
            // A list that cannot be read stays empty, as one with no rows would;
            // its own lastError() keeps the reason.
            (void)child->retrieve({});
}

int DataStore::insertRow(int before) {
    Row r;
    r.status = RowStatus::New;
    const int n = columnCount();
    r.modified.assign(size_t(n), false);
    for (int i = 0; i < n; ++i) {
        const FormColumn& c = def_.columns[size_t(i)];
        r.current << (c.initial.isValid() ? convert(c, c.initial, nullptr) : QVariant());
        r.original << QVariant();
    }
    if (before < 1 || before > rowCount()) {
        primary_.push_back(std::move(r));
        return rowCount();
    }
    primary_.insert(primary_.begin() + (before - 1), std::move(r));
    return before;
}

bool DataStore::deleteRow(int row) {
    if (!rowAt(row)) return false;
    Row r = std::move(primary_[size_t(row - 1)]);
    primary_.erase(primary_.begin() + (row - 1));
    if (r.status == RowStatus::NotModified || r.status == RowStatus::DataModified) {
        r.selected = false;
        deleted_.push_back(std::move(r));
    }
    return true;
}

void DataStore::reset() {
    primary_.clear();
    deleted_.clear();
}

int DataStore::modifiedCount() const {
    return int(std::count_if(primary_.begin(), primary_.end(), [](const Row& r) {
        return r.status == RowStatus::DataModified || r.status == RowStatus::NewModified;
    }));
}

int DataStore::deletedCount() const { return int(deleted_.size()); }

RowStatus DataStore::rowStatus(int row) const {
    const Row* r = rowAt(row);
    return r ? r->status : RowStatus::NotModified;
}

void DataStore::setRowStatus(int row, RowStatus status) {
    Row* r = rowAt(row);
    if (!r) return;
    r->status = status;
    if (status == RowStatus::NotModified || status == RowStatus::New) {
        std::fill(r->modified.begin(), r->modified.end(), false);
    } else if (std::none_of(r->modified.begin(), r->modified.end(), [](bool b) { return b; })) {
        for (size_t i = 0; i < r->modified.size(); ++i) r->modified[i] = def_.columns[i].updatable;
    }
}

bool DataStore::isModified(int row, const QString& column) const {
    const Row* r = rowAt(row);
    const Ref c = ref(column);
    return r && c.index >= 0 && r->modified[size_t(c.index)];
}

// ---- values ----

QVariant DataStore::getVariant(int row, const QString& column) const {
    const Row* r = rowAt(row);
    const Ref c = ref(column);
    if (!r || c.index < 0) return QVariant();
    return r->current[c.index];
}

QVariant DataStore::getVariant(int row, int column) const {
    const Row* r = rowAt(row);
    const Ref c = ref(column);
    if (!r || c.index < 0) return QVariant();
    return r->current[c.index];
}

QVariant DataStore::getOriginal(int row, const QString& column) const {
    const Row* r = rowAt(row);
    const Ref c = ref(column);
    if (!r || c.index < 0) return QVariant();
    return r->original[c.index];
}

bool DataStore::isNull(int row, const QString& column) const { return !getVariant(row, column).isValid(); }

namespace {
QString asString(const QVariant& v) {
    if (!v.isValid()) return QString();
    if (isDecimal(v)) return v.value<Decimal>().toPlainString();
    if (v.metaType().id() == QMetaType::QDateTime) return v.toDateTime().toString(canonicalDateTimeFormat());
    return v.toString();
}
std::optional<Decimal> asDecimal(const QVariant& v) {
    if (!v.isValid()) return std::nullopt;
    if (isDecimal(v)) return v.value<Decimal>();
    if (v.metaType().id() == QMetaType::QString) return Decimal::parse(v.toString());
    return Decimal::fromVariant(v);
}
QDateTime asDateTime(const QVariant& v) {
    if (!v.isValid()) return QDateTime();
    if (v.metaType().id() == QMetaType::QDateTime) return v.toDateTime();
    return parseDateText(v.toString());
}
} // namespace

QString DataStore::getString(int row, const QString& column) const { return asString(getVariant(row, column)); }
QString DataStore::getString(int row, int column) const { return asString(getVariant(row, column)); }
std::optional<Decimal> DataStore::getDecimal(int row, const QString& column) const {
    return asDecimal(getVariant(row, column));
}
std::optional<Decimal> DataStore::getDecimal(int row, int column) const { return asDecimal(getVariant(row, column)); }
QDateTime DataStore::getDateTime(int row, const QString& column) const { return asDateTime(getVariant(row, column)); }
QDateTime DataStore::getDateTime(int row, int column) const { return asDateTime(getVariant(row, column)); }

QVariant DataStore::convert(const FormColumn& c, const QVariant& v, QString* error) const {
    auto fail = [&](const QString& e) {
        if (error) *error = e;
        return QVariant();
    };
    if (error) error->clear();
    if (!v.isValid() || v.isNull()) return QVariant();
    const int id = v.metaType().id();
    switch (c.type) {
    case ColType::Text:
        if (id == QMetaType::QString && v.toString().isNull()) return QVariant();
        if (isDecimal(v)) return v.value<Decimal>().toPlainString();
        if (id == QMetaType::QDateTime) return v.toDateTime().toString(canonicalDateTimeFormat());
        return v.toString();
    case ColType::Decimal2: {
        // A two-place column holds two places: a product of quantity and price is
        // rounded half away from zero here, so sums agree with what is stored.
        if (isDecimal(v)) return QVariant::fromValue(v.value<Decimal>().round2());
        if (id == QMetaType::QString) {
            Decimal::ParseError pe = Decimal::ParseError::None;
            const auto d = Decimal::parseAmount(v.toString(), &pe);
            if (pe == Decimal::ParseError::Empty) return QVariant();
            if (!d) return fail(Decimal::amountError(pe, displayName(c)));
            return QVariant::fromValue(*d);
        }
        const auto d = Decimal::fromVariant(v);
        if (!d) return fail(QStringLiteral("“%1”必须是数字！").arg(displayName(c)));
        return QVariant::fromValue(d->round2());
    }
    case ColType::Whole:
    case ColType::Identity: {
        if (isDecimal(v)) {
            const Decimal d = v.value<Decimal>();
            if (!d.fitsStorage()) return fail(Decimal::rangeError(displayName(c)));
            if (d.places() > 0) return fail(QStringLiteral("“%1”必须是整数！").arg(displayName(c)));
            return qlonglong(d.toCents() / 100);
        }
        if (id == QMetaType::QString && v.toString().trimmed().isEmpty()) return QVariant();
        bool ok = false;
        const qlonglong n = id == QMetaType::QString ? v.toString().trimmed().toLongLong(&ok) : v.toLongLong(&ok);
        if (!ok || (id == QMetaType::Double && double(n) != v.toDouble()))
            return fail(QStringLiteral("“%1”必须是整数！").arg(displayName(c)));
        return n;
    }
    case ColType::DateTime: {
        QDateTime dt;
        if (id == QMetaType::QDateTime)
            dt = v.toDateTime();
        else if (id == QMetaType::QDate)
            dt = v.toDate().startOfDay();
        else if (id == QMetaType::QString && v.toString().trimmed().isEmpty())
            return QVariant();
        else
            dt = parseDateText(v.toString());
        if (!dt.isValid()) return fail(QStringLiteral("“%1”必须是日期，例如2009-03-01！").arg(displayName(c)));
        return wholeSeconds(dt);
    }
    }
    return v;
}

bool DataStore::setValue(int row, int index, const QVariant& value) {
    Row* r = rowAt(row);
    if (!r || index < 0 || index >= columnCount()) return false;
    r->current[index] = value;
    r->modified[size_t(index)] = true;
    if (r->status == RowStatus::New)
        r->status = RowStatus::NewModified;
    else if (r->status == RowStatus::NotModified)
        r->status = RowStatus::DataModified;
    return true;
}

bool DataStore::setItem(int row, const QString& column, const QVariant& value) {
    lastError_.clear();
    const Ref c = ref(column);
    if (c.index < 0) {
        lastError_ = QStringLiteral("列“%1”不存在").arg(column);
        return false;
    }
    if (!rowAt(row)) {
        lastError_ = QStringLiteral("行号%1无效").arg(row);
        return false;
    }
    QString error;
    const QVariant v = convert(def_.columns[size_t(c.index)], value, &error);
    if (!error.isEmpty()) {
        lastError_ = error;
        return false;
    }
    return setValue(row, c.index, v);
}

bool DataStore::setItem(int row, int column, const QVariant& value) {
    const Ref c = ref(column);
    if (!c.def) {
        lastError_ = QStringLiteral("列号%1无效").arg(column);
        return false;
    }
    return setItem(row, c.def->name, value);
}

// ---- edit text ----

QString DataStore::messageName(const QString& column) const {
    const Ref c = ref(column);
    return c.index < 0 ? column : displayName(def_.columns[size_t(c.index)]);
}

QString DataStore::displayName(const FormColumn& c) const {
    if (const TableDef* t = findTable(c.table))
        if (const ColumnDef* cd = t->column(c.dbColumn))
            if (!cd->label.isEmpty()) return cd->label;
    QString l = columnLabelOf(c);
    l.remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
    l = l.section(QRegularExpression(QStringLiteral("[:：]")), 0, 0).trimmed();
    return l.isEmpty() ? c.name : l;
}

namespace {
// The stored value that an entered text stands for in a code table or drop-down.
QString dataValueOfText(const FormColumn& def, const DataStore* child, const QString& text) {
    if (def.edit == EditStyle::CodeTable) {
        for (const auto& e : def.codeTable)
            if (e.display == text) return e.stored;
    } else if (def.edit == EditStyle::DropDown && child) {
        const QString disp = def.dropDown.displayColumn, data = def.dropDown.dataColumn;
        const int r =
            child->find([&](const DataStore::RowView& v) { return v.getString(disp) == text; }, 1, child->rowCount());
        if (r > 0) return child->getString(r, data);
    }
    return text;
}
} // namespace

QString DataStore::validateText(int row, const QString& column, const QString& text) const {
    const Ref c = ref(column);
    if (c.index < 0) return QStringLiteral("列“%1”不存在").arg(column);
    if (!rowAt(row)) return QStringLiteral("行号%1无效").arg(row);
    const FormColumn& target = def_.columns[size_t(c.index)];
    const QString value = dataValueOfText(*c.def, child(c.def->name), text);
    const QString label = displayName(target);
    switch (target.type) {
    case ColType::Text: {
        ColumnDef cd;
        cd.name = target.dbColumn;
        cd.type = ColType::Text;
        cd.width = target.width;
        cd.label = label;
        return widthError(cd, value);
    }
    case ColType::Decimal2: {
        Decimal::ParseError pe = Decimal::ParseError::None;
        Decimal::parseAmount(value, &pe);
        return Decimal::amountError(pe, label);
    }
    case ColType::Whole:
    case ColType::Identity:
    case ColType::DateTime: {
        QString error;
        convert(target, QVariant(value), &error);
        return error;
    }
    }
    return QString();
}

QString DataStore::setItemText(int row, const QString& column, const QString& text) {
    const QString error = validateText(row, column, text);
    if (!error.isEmpty()) {
        lastError_ = error;
        return error;
    }
    const Ref c = ref(column);
    const QString value = dataValueOfText(*c.def, child(c.def->name), text);
    const FormColumn& target = def_.columns[size_t(c.index)];
    QVariant v = value.isEmpty() ? QVariant() : QVariant(value);
    QString convError;
    v = convert(target, v, &convError);
    if (!convError.isEmpty()) {
        lastError_ = convError;
        return convError;
    }
    setValue(row, c.index, v);
    return QString();
}

QString DataStore::displayText(int row, const QString& column) const {
    const Ref c = ref(column);
    if (c.index < 0 || !rowAt(row)) return QString();
    const QVariant v = getVariant(row, column);
    if (!v.isValid()) return QString();
    switch (c.def->edit) {
    case EditStyle::Masked: return asString(v).isEmpty() ? QString() : c.def->mask;
    case EditStyle::CodeTable:
    case EditStyle::DropDown: return lookupDisplay(column, v);
    case EditStyle::Plain: break;
    }
    return formatValue(v, c.def->format);
}

int DataStore::acceptText() {
    if (!acceptText_) return 1;
    const QString error = acceptText_();
    if (!error.isEmpty()) {
        lastError_ = error;
        return -1;
    }
    return 1;
}

// ---- writing ----

QVariant DataStore::nullBind(const FormColumn& c) const {
    switch (c.type) {
    case ColType::Text: return QVariant(QMetaType::fromType<QString>());
    case ColType::DateTime: return QVariant(QMetaType::fromType<QDateTime>());
    case ColType::Decimal2:
    case ColType::Whole:
    case ColType::Identity: return QVariant(QMetaType::fromType<qlonglong>());
    }
    return QVariant();
}

// Width and range of every value that an update would write for this row.
QString DataStore::checkStorage(const Row& r, bool onlyModified) const {
    const TableDef* table = findTable(def_.updateTable);
    for (int i = 0; i < columnCount(); ++i) {
        const FormColumn& c = def_.columns[size_t(i)];
        if (!c.updatable || c.type == ColType::Identity) continue;
        if (onlyModified && !r.modified[size_t(i)]) continue;
        const QVariant& v = r.current[i];
        if (!v.isValid()) continue;
        const ColumnDef* cd = table ? table->column(c.dbColumn) : nullptr;
        if (c.type == ColType::Text && cd) {
            const QString e = widthError(*cd, v.toString());
            if (!e.isEmpty()) return e;
        }
        if (c.type == ColType::Decimal2 && isDecimal(v) && !v.value<Decimal>().fitsStorage())
            return Decimal::rangeError(displayName(c));
    }
    return QString();
}

int DataStore::failUpdate(const QString& error) {
    lastError_ = error;
    tx_->reportRefusal({}, error);
    return -1;
}

QVariant DataStore::bindValue(int index, const QVariant& v) const {
    return v.isValid() ? v : nullBind(def_.columns[size_t(index)]);
}

// "k1 = ? AND k2 = ?" over the update key, bound to the row's ORIGINAL values.
QString DataStore::keyWhere(const Row& r, QVariantList& binds) const {
    QStringList parts;
    for (const QString& k : def_.keyColumns) {
        const int i = def_.columnIndex(k);
        parts << def_.columns[size_t(i)].dbColumn + QStringLiteral(" = ?");
        binds << bindValue(i, r.original[i]);
    }
    return parts.join(QStringLiteral(" AND "));
}

bool DataStore::execWrite(const QString& sql, const QVariantList& binds, bool mustHitRow) {
    if (!tx_->exec(sql, binds)) {
        lastError_ = tx_->sqlerrtext;
        return false;
    }
    if (mustHitRow && tx_->sqlnrows == 0) {
        failUpdate(QStringLiteral("“%1”中要保存的行已不存在或已被修改，请重新读取后再保存！").arg(def_.updateTable));
        return false;
    }
    return true;
}

// The first width or range error of a row that the update would write.
QString DataStore::storageRefusal() const {
    for (const Row& r : primary_) {
        QString e;
        if (r.status == RowStatus::DataModified)
            e = checkStorage(r, true);
        else if (r.status == RowStatus::NewModified)
            e = checkStorage(r, false);
        if (!e.isEmpty()) return e;
    }
    return QString();
}

bool DataStore::writeDeletes() {
    for (const Row& r : deleted_) {
        QVariantList binds;
        const QString sql = QStringLiteral("DELETE FROM %1 WHERE %2").arg(def_.updateTable, keyWhere(r, binds));
        if (!execWrite(sql, binds, true)) return false;
    }
    return true;
}

// Changed columns of modified rows, each row located by its original key.
bool DataStore::writeUpdates() {
    for (const Row& r : primary_) {
        if (r.status != RowStatus::DataModified) continue;
        QStringList sets;
        QVariantList binds;
        for (int i = 0; i < columnCount(); ++i) {
            const FormColumn& c = def_.columns[size_t(i)];
            if (!c.updatable || c.type == ColType::Identity || !r.modified[size_t(i)]) continue;
            sets << c.dbColumn + QStringLiteral(" = ?");
            binds << bindValue(i, r.current[i]);
        }
        if (sets.isEmpty()) continue;
        const QString where = keyWhere(r, binds);
        const QString sql =
            QStringLiteral("UPDATE %1 SET %2 WHERE %3").arg(def_.updateTable, sets.join(QStringLiteral(", ")), where);
        if (!execWrite(sql, binds, true)) return false;
    }
    return true;
}

// New rows; the database assigns the identity key, which is collected in
// `assigned` (row index, key) and stored only once every write succeeded.
bool DataStore::writeInserts(std::vector<std::pair<size_t, qlonglong>>& assigned) {
    const int identity = identityIndex();
    const bool returning = tx_->dialect().kind() == Dialect::Kind::PostgreSQL;
    for (size_t n = 0; n < primary_.size(); ++n) {
        const Row& r = primary_[n];
        if (r.status != RowStatus::NewModified) continue;
        QStringList cols, marks;
        QVariantList binds;
        for (int i = 0; i < columnCount(); ++i) {
            const FormColumn& c = def_.columns[size_t(i)];
            if (!c.updatable || c.type == ColType::Identity) continue;
            cols << c.dbColumn;
            marks << QStringLiteral("?");
            binds << bindValue(i, r.current[i]);
        }
        QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                          .arg(def_.updateTable, cols.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
        if (identity >= 0 && returning) sql += QStringLiteral(" RETURNING ") + def_.columns[size_t(identity)].dbColumn;
        if (!execWrite(sql, binds, false)) return false;
        if (identity < 0) continue;
        QVariant id;
        if (returning) {
            if (tx_->lastQuery().next()) id = tx_->lastQuery().value(0);
        } else {
            id = tx_->lastQuery().lastInsertId();
        }
        bool ok = false;
        const qlonglong v = id.toLongLong(&ok);
        if (!ok) {
            failUpdate(QStringLiteral("“%1”新增行的序号未能读回").arg(def_.updateTable));
            return false;
        }
        assigned.emplace_back(n, v);
    }
    return true;
}

int DataStore::identityIndex() const {
    for (int i = 0; i < columnCount(); ++i)
        if (def_.columns[size_t(i)].updatable && def_.columns[size_t(i)].type == ColType::Identity) return i;
    return -1;
}

int DataStore::update(bool acceptTextFirst, bool resetFlags) {
    lastError_.clear();
    if (def_.readOnly()) return failUpdate(QStringLiteral("“%1”不能保存：它不更新任何数据表").arg(def_.name));
    if (acceptTextFirst && acceptText() != 1) return -1;
    if (const QString e = storageRefusal(); !e.isEmpty()) return failUpdate(e);

    std::vector<std::pair<size_t, qlonglong>> assigned;
    if (!writeDeletes() || !writeUpdates() || !writeInserts(assigned)) return -1;

    // Everything was written: only now does the store change.
    const int identity = identityIndex();
    for (const auto& [n, id] : assigned) primary_[n].current[identity] = id;
    if (resetFlags) resetUpdate();
    tx_->reportSuccess({});
    return 1;
}

void DataStore::resetUpdate() {
    for (Row& r : primary_) {
        r.original = r.current;
        std::fill(r.modified.begin(), r.modified.end(), false);
        r.status = RowStatus::NotModified;
    }
    deleted_.clear();
}

// ---- finding and ordering ----

int DataStore::find(const Predicate& predicate, int startRow, int endRow) const {
    const int n = rowCount();
    if (n == 0 || !predicate) return 0;
    startRow = std::clamp(startRow, 1, n);
    endRow = std::clamp(endRow, 1, n);
    const int step = startRow <= endRow ? 1 : -1;
    for (int r = startRow;; r += step) {
        if (predicate(RowView(*this, r))) return r;
        if (r == endRow) break;
    }
    return 0;
}

bool DataStore::setSort(const QString& text) {
    lastError_.clear();
    const QStringList keys = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString& k : keys) {
        const QString name = k.trimmed().section(QLatin1Char(' '), 0, 0);
        if (ref(name).index < 0) {
            lastError_ = QStringLiteral("排序列“%1”不存在").arg(name);
            return false;
        }
    }
    sort_ = text;
    return true;
}

bool DataStore::sort(const QString& text) {
    if (!setSort(text)) return false;
    struct Key {
        int index;
        bool descending;
    };
    std::vector<Key> keys;
    for (const QString& k : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList parts = k.simplified().split(QLatin1Char(' '));
        const bool desc = parts.size() > 1 && parts[1].startsWith(QLatin1Char('D'), Qt::CaseInsensitive);
        keys.push_back({ref(parts[0]).index, desc});
    }
    if (keys.empty()) return true;
    std::stable_sort(primary_.begin(), primary_.end(), [&](const Row& a, const Row& b) {
        for (const Key& k : keys) {
            const int c = compareValues(a.current[k.index], b.current[k.index]);
            if (c != 0) return k.descending ? c > 0 : c < 0;
        }
        return false;
    });
    return true;
}

bool DataStore::rowsCopy(int startRow, int endRow, DataStore& target, int beforeRow) const {
    if (!rowAt(startRow) || !rowAt(endRow) || startRow > endRow) return false;
    if (&target == this) return false;
    const int n = target.columnCount();
    std::vector<Row> copies;
    for (int row = startRow; row <= endRow; ++row) {
        const Row& src = primary_[size_t(row - 1)];
        Row r;
        r.status = RowStatus::NewModified;
        r.modified.assign(size_t(n), true);
        for (int i = 0; i < n; ++i) {
            QVariant v = i < src.current.size() ? src.current[i] : QVariant();
            if (i < columnCount() && def_.columns[size_t(i)].type != target.def_.columns[size_t(i)].type)
                v = target.convert(target.def_.columns[size_t(i)], v, nullptr);
            r.current << v;
            r.original << QVariant();
        }
        copies.push_back(std::move(r));
    }
    auto at = (beforeRow < 1 || beforeRow > target.rowCount()) ? target.primary_.end()
                                                               : target.primary_.begin() + (beforeRow - 1);
    target.primary_.insert(at, std::make_move_iterator(copies.begin()), std::make_move_iterator(copies.end()));
    return true;
}

void DataStore::selectRow(int row, bool selected) {
    if (row == 0) {
        for (Row& r : primary_) r.selected = selected;
        return;
    }
    if (Row* r = rowAt(row)) r->selected = selected;
}

bool DataStore::isSelected(int row) const {
    const Row* r = rowAt(row);
    return r && r->selected;
}

int DataStore::getSelectedRow(int afterRow) const {
    for (int r = std::max(afterRow + 1, 1); r <= rowCount(); ++r)
        if (primary_[size_t(r - 1)].selected) return r;
    return 0;
}

// ---- description ----

QString DataStore::columnName(int n) const {
    const Ref c = ref(n);
    return c.def ? c.def->name : QString();
}

int DataStore::columnId(const QString& column) const {
    const Ref c = ref(column);
    return c.index >= 0 ? c.index + 1 : 0;
}

bool DataStore::hasObject(const QString& name) const { return objectTexts_.contains(name.toLower()); }

QString DataStore::objectText(const QString& name) const { return objectTexts_.value(name.toLower()); }

bool DataStore::setObjectText(const QString& name, const QString& text) {
    auto it = objectTexts_.find(name.toLower());
    if (it == objectTexts_.end()) return false;
    *it = text;
    return true;
}

QString DataStore::objectTag(const QString& name) const {
    if (const TextObject* t = def_.text(name)) return t->tag;
    if (const FormColumn* c = def_.column(name)) return c->tag;
    if (const ComputedField* f = def_.computedField(name)) return f->tag;
    return QString();
}

QString DataStore::columnTag(const QString& column) const {
    const Ref c = ref(column);
    return c.def ? c.def->tag : QString();
}

QString DataStore::columnLabel(const QString& column) const {
    const Ref c = ref(column);
    return c.def ? columnLabelOf(*c.def) : QString();
}

QString DataStore::lookupDisplay(const QString& column, const QVariant& stored) const {
    const Ref c = ref(column);
    const QString value = asString(stored);
    if (!c.def || !stored.isValid()) return value;
    if (c.def->edit == EditStyle::CodeTable) {
        for (const auto& e : c.def->codeTable)
            if (e.stored == value) return e.display;
    } else if (c.def->edit == EditStyle::DropDown) {
        if (const DataStore* list = child(column)) {
            const QString disp = c.def->dropDown.displayColumn, data = c.def->dropDown.dataColumn;
            const int r = list->find([&](const RowView& v) { return v.getString(data) == value; }, 1, list->rowCount());
            if (r > 0) return list->getString(r, disp);
        }
    }
    return value;
}

DataStore* DataStore::child(const QString& column) const {
    const Ref c = ref(column);
    if (!c.def) return nullptr;
    auto it = children_.find(c.def->name.toLower());
    return it == children_.end() ? nullptr : it->second.get();
}

QVariant DataStore::computed(const QString& name, int row) const {
    const ComputedField* f = def_.computedField(name);
    if (!f || !f->eval) return QVariant();
    return f->eval(*this, row);
}

bool DataStore::isProtected(int row, const QString& column) const {
    const Ref c = ref(column);
    if (!c.def || !c.def->protect || !rowAt(row)) return false;
    return c.def->protect(*this, row);
}

int DataStore::textColor(int row, const QString& name) const {
    if (const FormColumn* c = def_.column(name)) return c->colour ? c->colour(*this, row) : kColourBlack;
    if (const ComputedField* f = def_.computedField(name)) return f->colour ? f->colour(*this, row) : kColourBlack;
    return kColourBlack;
}

QString DataStore::describe(const QString& what) const {
    const QString w = what.trimmed();
    const QString lower = w.toLower();
    static const QRegularExpression evalRe(
        QStringLiteral("^evaluate\\(\\s*'\\s*lookupdisplay\\(\\s*(\\w+)\\s*\\)\\s*'\\s*,\\s*(\\d+)\\s*\\)$"),
        QRegularExpression::CaseInsensitiveOption);
    if (const auto m = evalRe.match(w); m.hasMatch()) {
        const int row = m.captured(2).toInt();
        if (!ref(m.captured(1)).def || !rowAt(row)) return QStringLiteral("!");
        return lookupDisplay(m.captured(1), getVariant(row, m.captured(1)));
    }
    if (lower == QLatin1String("datawindow.column.count")) return QString::number(columnCount());
    if (lower == QLatin1String("datawindow.readonly")) return readOnly_ ? QStringLiteral("yes") : QStringLiteral("no");
    const int dot = w.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0) return QStringLiteral("!");
    QString object = w.left(dot);
    const QString prop = lower.mid(dot + 1);
    if (object.startsWith(QLatin1Char('#'))) {
        object = columnName(object.mid(1).toInt());
        if (object.isEmpty()) return QStringLiteral("!");
    }
    const TextObject* t = def_.text(object);
    const FormColumn* c = def_.column(object);
    const ComputedField* f = def_.computedField(object);
    if (!t && !c && !f) return QStringLiteral("!");
    if (prop == QLatin1String("text")) return t ? objectText(object) : QStringLiteral("!");
    if (prop == QLatin1String("tag")) return objectTag(object);
    if (prop == QLatin1String("name")) return t ? t->name : (c ? c->name : f->name);
    if (prop == QLatin1String("id")) return c ? QString::number(columnId(object)) : QStringLiteral("!");
    if (prop == QLatin1String("visible")) {
        const bool visible = t ? t->visible : (c ? c->visible : true);
        return visible ? QStringLiteral("1") : QStringLiteral("0");
    }
    return QStringLiteral("?");
}

std::unique_ptr<DataStore> makeStore(const QString& name, Transaction& transaction) {
    const FormDef* d = formDef(name);
    if (!d) return nullptr;
    return std::make_unique<DataStore>(*d, transaction);
}

} // namespace fp
