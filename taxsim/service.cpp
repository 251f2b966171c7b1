#include "taxsim/service.h"
#include "taxsim/service_impl.h"

#include <QFile>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QTextStream>

#include <atomic>
#include <memory>

namespace taxsim {

// ---------------------------------------------------------------------------
// StoredInvoice

const QStringList& StoredInvoice::headerColumns() {
    static const QStringList cols = {
        QStringLiteral("fpdm"),     QStringLiteral("fphm"),     QStringLiteral("fpzlbm"),   QStringLiteral("swjgdm"),
        QStringLiteral("sxh"),      QStringLiteral("fpzt"),     QStringLiteral("fkfmc"),    QStringLiteral("fkfzjlx"),
        QStringLiteral("fkfzjhm"),  QStringLiteral("zbrbz"),    QStringLiteral("skfmc"),    QStringLiteral("skfzjlx"),
        QStringLiteral("skfzjhm"),  QStringLiteral("skflxdh"),  QStringLiteral("fbrbz"),    QStringLiteral("hjje"),
        QStringLiteral("hjdx"),     QStringLiteral("sl"),       QStringLiteral("se"),       QStringLiteral("wspzh"),
        QStringLiteral("bz"),       QStringLiteral("kpr"),      QStringLiteral("bcrq"),     QStringLiteral("kprq"),
        QStringLiteral("drcs"),     QStringLiteral("userid"),   QStringLiteral("username"), QStringLiteral("mjlx"),
        QStringLiteral("extprop1"), QStringLiteral("extprop2"), QStringLiteral("extprop3"), QStringLiteral("extprop4"),
        QStringLiteral("extprop5"),
    };
    return cols;
}

const QStringList& StoredInvoice::lineColumns() {
    static const QStringList cols = {
        QStringLiteral("iserial"),  QStringLiteral("fpdm"),     QStringLiteral("fphm"),     QStringLiteral("xmmc"),
        QStringLiteral("xmbh"),     QStringLiteral("jsxm"),     QStringLiteral("bdclph"),   QStringLiteral("mj"),
        QStringLiteral("dj"),       QStringLiteral("kxxz"),     QStringLiteral("je"),       QStringLiteral("wspzh"),
        QStringLiteral("extprop1"), QStringLiteral("extprop2"), QStringLiteral("extprop3"), QStringLiteral("extprop4"),
        QStringLiteral("extprop5"),
    };
    return cols;
}

StoredInvoice StoredInvoice::create(const QString& fpdm, const QString& fphm) {
    StoredInvoice inv;
    for (int i = 0; i < headerColumns().size(); ++i) inv.header.append(QStringLiteral(""));
    inv.setValue(QStringLiteral("fpdm"), fpdm);
    inv.setValue(QStringLiteral("fphm"), fphm);
    return inv;
}

QString StoredInvoice::value(const QString& column) const {
    const int i = headerColumns().indexOf(column);
    return i >= 0 && i < header.size() ? header.at(i) : QString();
}

void StoredInvoice::setValue(const QString& column, const QString& v) {
    const int i = headerColumns().indexOf(column);
    if (i < 0) return;
    while (header.size() < headerColumns().size()) header.append(QStringLiteral(""));
    header[i] = v;
}

QString StoredInvoice::lineValue(int line, const QString& column) const {
    const int i = lineColumns().indexOf(column);
    if (line < 0 || line >= int(lines.size()) || i < 0 || i >= lines[line].size()) return QString();
    return lines[line].at(i);
}

void StoredInvoice::setLineValue(int line, const QString& column, const QString& v) {
    const int i = lineColumns().indexOf(column);
    if (line < 0 || line >= int(lines.size()) || i < 0) return;
    while (lines[line].size() < lineColumns().size()) lines[line].append(QStringLiteral(""));
    lines[line][i] = v;
}

int StoredInvoice::addLine() {
    QStringList l;
    for (int i = 0; i < lineColumns().size(); ++i) l.append(QStringLiteral(""));
    const int n = int(lines.size());
    l[1] = value(QStringLiteral("fpdm"));
    l[2] = value(QStringLiteral("fphm"));
    l[0] = QString::number(n + 1);
    lines.push_back(l);
    return n;
}

QString statusName(const QString& status) {
    if (status == QLatin1String("-2")) return QStringLiteral("未领购");
    if (status == QLatin1String("-1")) return QStringLiteral("已退库");
    if (status == QLatin1String("0")) return QStringLiteral("未使用");
    if (status == QLatin1String("1")) return QStringLiteral("已开票");
    if (status == QLatin1String("2")) return QStringLiteral("已作废");
    if (status == QLatin1String("3")) return QStringLiteral("已作废（空白）");
    return QStringLiteral("未知状态");
}

QString replyDateOfStored(const QString& stored) {
    // The usual shape is rewritten by position; anything else goes through
    // the date parser (and becomes empty when it is not a date).
    const QChar* c = stored.constData();
    if (stored.size() == 19 && c[4] == QLatin1Char('-') && c[7] == QLatin1Char('-') && c[10] == QLatin1Char(' ')) {
        bool digits = true;
        for (int i : {0, 1, 2, 3, 5, 6, 8, 9}) digits = digits && c[i].isDigit();
        if (digits) return QStringView(stored).left(4) + QStringView(stored).mid(5, 2) + QStringView(stored).mid(8);
    }
    return QDateTime::fromString(stored, QString::fromLatin1(kDateTimeFormat))
        .toString(QString::fromLatin1(kReplyDateFormat));
}

// ---------------------------------------------------------------------------
// Impl: database

namespace {
std::atomic<int> g_connectionCounter{0};

QString columnList(const QStringList& cols) { return cols.join(QStringLiteral(", ")); }

QString placeholders(int n) {
    QStringList p;
    for (int i = 0; i < n; ++i) p.append(QStringLiteral("?"));
    return p.join(QStringLiteral(", "));
}
} // namespace

namespace {
thread_local Connection* t_connection = nullptr; // the connection of this database thread

bool isFileStore(const QString& path) { return !path.isEmpty() && path != QLatin1String(":memory:"); }

Connection* openConnection(const QString& name, const QString& path, QString* error) {
    auto c = std::make_unique<Connection>();
    c->name = name;
    c->db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    c->db.setDatabaseName(path);
    if (!c->db.open()) {
        if (error) *error = c->db.lastError().text();
        c->db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        return nullptr;
    }
    return c.release();
}

void closeConnection(Connection* c) {
    if (!c) return;
    const QString name = c->name;
    for (auto& [sql, stmt] : c->rawStatements) sqlite3_finalize(stmt);
    c->rawStatements.clear();
    c->statements.clear();
    c->db.close();
    c->db = QSqlDatabase();
    delete c;
    QSqlDatabase::removeDatabase(name);
}
} // namespace

// The highest number of a purchase's range that was issued or voided.
static const char* const kLastUsedOfPurchase =
    "SELECT i.fphm FROM invoice i WHERE i.fpdm = purchase.fpdm AND i.fphm >= purchase.fpqh"
    " AND i.fphm <= purchase.fpzh AND i.fpzt IN ('1', '2', '3') ORDER BY i.fphm DESC LIMIT 1";

// Lookups the procedures make, each served by a key or one of these.
static const char* const kIndexes[] = {
    "CREATE INDEX IF NOT EXISTS purchase_by_code ON purchase (fpdm, fpqh)",
    "CREATE INDEX IF NOT EXISTS purchase_by_owner ON purchase (sxh, lglsh)",
    "CREATE INDEX IF NOT EXISTS return_by_purchase ON stock_return (lglsh, tpqh)",
    "CREATE INDEX IF NOT EXISTS invoice_by_reversed ON invoice (extprop2, extprop1)",
};

void Service::Impl::openDb() {
    t_connection = openConnection(connectionName, dbPath, &error);
    if (!t_connection) return;
    try {
        if (isFileStore(dbPath)) {
            run(QStringLiteral("PRAGMA journal_mode=WAL"));
            run(QStringLiteral("PRAGMA synchronous=FULL"));
            run(QStringLiteral("PRAGMA busy_timeout=%1").arg(kBusyTimeoutMs));
            // Readers that keep coming stop SQLite's own checkpoints from
            // ever starting the journal over; checkpoint() does, and the file
            // is then cut back to this size.
            run(QStringLiteral("PRAGMA journal_size_limit=%1").arg(kJournalSizeLimit));
            run(QStringLiteral("PRAGMA wal_autocheckpoint=1000"));
            tuneConnection();
        }
        QStringList headerCols;
        for (const QString& c : StoredInvoice::headerColumns())
            headerCols.append(c + QStringLiteral(" TEXT NOT NULL DEFAULT ''"));
        QStringList lineCols;
        for (const QString& c : StoredInvoice::lineColumns())
            lineCols.append(c + QStringLiteral(" TEXT NOT NULL DEFAULT ''"));
        QStringList schema = {
            QStringLiteral("CREATE TABLE IF NOT EXISTS tax_office ("
                           " swjgdm TEXT PRIMARY KEY, swjgmc TEXT NOT NULL DEFAULT '')"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS taxpayer ("
                           " sxh TEXT PRIMARY KEY, password TEXT NOT NULL, name TEXT NOT NULL DEFAULT '',"
                           " nsrsbh TEXT NOT NULL DEFAULT '', lxdh TEXT NOT NULL DEFAULT '',"
                           " swjgdm TEXT NOT NULL DEFAULT '')"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS invoice_kind ("
                           " fpzlbm TEXT PRIMARY KEY, kplx TEXT NOT NULL, fpqc TEXT NOT NULL DEFAULT '',"
                           " fpjc TEXT NOT NULL DEFAULT '', yxj INTEGER NOT NULL DEFAULT 0)"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS invoice_code ("
                           " fpdm TEXT PRIMARY KEY, fpzlbm TEXT NOT NULL)"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS purchase ("
                           " lglsh TEXT PRIMARY KEY, swjgdm TEXT NOT NULL, sxh TEXT NOT NULL,"
                           " fpzlbm TEXT NOT NULL, fpdm TEXT NOT NULL, fpqh TEXT NOT NULL,"
                           " fpzh TEXT NOT NULL, bjbz TEXT NOT NULL, fsrq TEXT NOT NULL,"
                           " zjsyh TEXT NOT NULL DEFAULT '')"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS stock_return ("
                           " id INTEGER PRIMARY KEY AUTOINCREMENT, lglsh TEXT NOT NULL,"
                           " tpqh TEXT NOT NULL, tpzh TEXT NOT NULL, tprq TEXT NOT NULL)"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS invoice (") + headerCols.join(QStringLiteral(", ")) +
                QStringLiteral(", layout TEXT NOT NULL DEFAULT '', raw_upload TEXT NOT NULL DEFAULT '',"
                               " PRIMARY KEY (fpdm, fphm))"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS invoice_line ("
                           " inv_fpdm TEXT NOT NULL, inv_fphm TEXT NOT NULL, line_no INTEGER NOT NULL, ") +
                lineCols.join(QStringLiteral(", ")) + QStringLiteral(", PRIMARY KEY (inv_fpdm, inv_fphm, line_no))"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS print_report ("
                           " id INTEGER PRIMARY KEY AUTOINCREMENT, fpdm TEXT, fphm TEXT, sxh TEXT,"
                           " dycs TEXT, kpr TEXT, bz TEXT, reported_at TEXT)"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS void_report ("
                           " id INTEGER PRIMARY KEY AUTOINCREMENT, fpdm TEXT, fphm TEXT, sxh TEXT,"
                           " fpzt TEXT, kpr TEXT, reported_at TEXT)"),
        };
        for (const QString& sql : schema) run(sql);
        addLastUsedColumn();
        for (const char* index : kIndexes) run(QString::fromLatin1(index));
        finishStatements();
        open = true;
    } catch (const DbError& e) {
        error = QString::fromUtf8(e.what());
    }
}

// Pages read through a shared mapping and a larger cache of parsed pages.
void Service::Impl::tuneConnection() {
    run(QStringLiteral("PRAGMA mmap_size=268435456"));
    run(QStringLiteral("PRAGMA cache_size=-16384"));
}

// The last number used of each purchase is kept with the purchase, so that
// the stock text is one scan. A store made before that gets the column once.
void Service::Impl::addLastUsedColumn() {
    QSqlQuery& info = run(QStringLiteral("PRAGMA table_info(purchase)"));
    bool present = false;
    while (info.next()) present = present || info.value(1).toString() == QLatin1String("zjsyh");
    info.finish();
    if (present) return;
    run(QStringLiteral("ALTER TABLE purchase ADD COLUMN zjsyh TEXT NOT NULL DEFAULT ''"));
    run(QStringLiteral("UPDATE purchase SET zjsyh = coalesce((") + QString::fromLatin1(kLastUsedOfPurchase) +
        QStringLiteral("), '')"));
}

void Service::Impl::refreshLastUsed(const QString& lglsh) {
    run(QStringLiteral("UPDATE purchase SET zjsyh = coalesce((") + QString::fromLatin1(kLastUsedOfPurchase) +
            QStringLiteral("), '') WHERE lglsh = ?"),
        {lglsh});
}

void Service::Impl::closeDb() {
    closeConnection(t_connection);
    t_connection = nullptr;
}

// A reader opens its connection with its first piece of work and closes it
// when the service goes.
void Service::Impl::openReaders() {
    if (!open || !isFileStore(dbPath)) return;
    readers = std::make_unique<DbThread>(kReaderThreads, [] {
        closeConnection(t_connection);
        t_connection = nullptr;
    });
}

Connection& Service::Impl::connection() {
    if (!t_connection) {
        if (writer.isOwnThread()) throw DbError(error.toStdString());
        // First work on a reader thread.
        static std::atomic<int> readerCounter{0};
        QString why;
        t_connection =
            openConnection(connectionName + QStringLiteral("_r%1").arg(readerCounter.fetch_add(1)), dbPath, &why);
        if (!t_connection) throw DbError(why.toStdString());
        run(QStringLiteral("PRAGMA busy_timeout=%1").arg(kBusyTimeoutMs));
        run(QStringLiteral("PRAGMA query_only=1"));
        tuneConnection();
    }
    return *t_connection;
}

QSqlQuery& Service::Impl::run(const QString& sql, const QVariantList& binds) {
    Connection& c = connection();
    auto it = c.statements.find(sql);
    if (it == c.statements.end()) {
        auto q = std::make_unique<QSqlQuery>(c.db);
        q->setForwardOnly(true);
        if (!q->prepare(sql))
            throw DbError(
                QString(q->lastError().text() + QStringLiteral(" [") + sql + QStringLiteral("]")).toStdString());
        it = c.statements.emplace(sql, std::move(q)).first;
    }
    QSqlQuery& q = *it->second;
    if (q.isActive()) q.finish();
    for (int i = 0; i < binds.size(); ++i) {
        const QVariant& b = binds.at(i);
        // A null QString would be stored as NULL; the store keeps empty texts.
        if (b.metaType().id() == QMetaType::QString && b.toString().isNull())
            q.bindValue(i, QStringLiteral(""));
        else
            q.bindValue(i, b);
    }
    if (!q.exec())
        throw DbError(QString(q.lastError().text() + QStringLiteral(" [") + sql + QStringLiteral("]")).toStdString());
    return q;
}

// A statement that was not read to its end keeps its snapshot of the store;
// reset them all once a piece of work is done.
void Service::Impl::finishStatements() {
    if (!t_connection) return;
    for (auto& [sql, q] : t_connection->statements) {
        if (q->isActive()) q->finish();
    }
    for (auto& [sql, stmt] : t_connection->rawStatements) sqlite3_reset(stmt);
}

// Inside a batch of writes, a procedure's transaction is a savepoint of the
// batch's transaction.
sqlite3_stmt* Service::Impl::runRaw(const QString& sql, const QStringList& binds) {
    Connection& c = connection();
    auto it = c.rawStatements.find(sql);
    if (it == c.rawStatements.end()) {
        const QVariant handle = c.db.driver()->handle();
        if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
            throw DbError("the store's driver gives no SQLite handle");
        sqlite3* db = *static_cast<sqlite3* const*>(handle.constData());
        sqlite3_stmt* stmt = nullptr;
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v2(db, text.constData(), int(text.size()), &stmt, nullptr) != SQLITE_OK)
            throw DbError(std::string(sqlite3_errmsg(db)) + " [" + text.toStdString() + "]");
        it = c.rawStatements.emplace(sql, stmt).first;
    }
    sqlite3_stmt* stmt = it->second;
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    for (int i = 0; i < binds.size(); ++i) {
        const QByteArray b = binds.at(i).toUtf8();
        sqlite3_bind_text(stmt, i + 1, b.constData(), int(b.size()), SQLITE_TRANSIENT);
    }
    return stmt;
}

void Service::Impl::begin() {
    if (inBatch) {
        run(QStringLiteral("SAVEPOINT request"));
        savepointOpen = true;
        return;
    }
    run(QStringLiteral("BEGIN"));
}

void Service::Impl::commit() {
    if (inBatch) {
        run(QStringLiteral("RELEASE request"));
        savepointOpen = false;
        return;
    }
    run(QStringLiteral("COMMIT"));
    committed();
}

void Service::Impl::committed() {
    if (!isFileStore(dbPath) || ++commitsSinceCheckpoint < kCheckpointEvery || checkpointQueued) return;
    checkpointQueued = true;
    writer.post([this] {
        checkpoint();
        finishStatements();
    });
}

// Copies what the journal holds into the store and starts the journal over
// at length 0, as far as the readers allow: it never waits for one (the
// writes queued behind it would wait too). What a reader still needs stays;
// a later checkpoint, or SQLite's own when the journal starts over, takes it.
void Service::Impl::checkpoint() {
    checkpointQueued = false;
    commitsSinceCheckpoint = 0;
    if (!t_connection) return;
    const QVariant handle = t_connection->db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0) return;
    sqlite3* db = *static_cast<sqlite3* const*>(handle.constData());
    finishStatements();
    // Setting a timeout only fails on a closed connection.
    (void)sqlite3_busy_timeout(db, 0);
    // SQLITE_BUSY while a reader is in the journal: nothing to report, the
    // part the readers allowed is done.
    (void)sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    (void)sqlite3_busy_timeout(db, kBusyTimeoutMs);
}

void Service::Impl::rollback() {
    if (inBatch) {
        if (savepointOpen) {
            savepointOpen = false;
            run(QStringLiteral("ROLLBACK TO request"));
            run(QStringLiteral("RELEASE request"));
        }
        return;
    }
    try {
        run(QStringLiteral("ROLLBACK"));
    } catch (const DbError&) {
        // nothing was begun
    }
}

QDateTime Service::Impl::now() const {
    std::function<QDateTime()> c;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        c = clock;
    }
    QDateTime t = c ? c() : QDateTime::currentDateTime();
    return t.addMSecs(-t.time().msec());
}

// ---------------------------------------------------------------------------
// Impl: lookups

std::optional<TaxpayerRow> Service::Impl::taxpayer(const QString& sxh) {
    QSqlQuery& q = run(QStringLiteral("SELECT t.sxh, t.password, t.name, t.nsrsbh, t.lxdh, t.swjgdm, o.swjgmc"
                                      " FROM taxpayer t LEFT JOIN tax_office o ON o.swjgdm = t.swjgdm WHERE t.sxh = ?"),
                       {sxh});
    if (!q.next()) return std::nullopt;
    TaxpayerRow r;
    r.t.sxh = q.value(0).toString();
    r.t.password = q.value(1).toString();
    r.t.name = q.value(2).toString();
    r.t.nsrsbh = q.value(3).toString();
    r.t.lxdh = q.value(4).toString();
    r.t.swjgdm = q.value(5).toString();
    r.swjgmc = q.value(6).toString();
    return r;
}

QString Service::Impl::codeKind(const QString& fpdm) {
    QSqlQuery& q = run(QStringLiteral("SELECT fpzlbm FROM invoice_code WHERE fpdm = ?"), {fpdm});
    return q.next() ? q.value(0).toString() : QString();
}

// The purchase whose range holds the number. Ranges of one code never overlap
// (addPurchase sees to it), so the one starting last at or before the number
// is the only candidate.
std::optional<PurchaseRow> Service::Impl::purchaseHolding(const QString& fpdm, const QString& fphm) {
    QSqlQuery& p = run(QStringLiteral("SELECT lglsh, swjgdm, sxh, fpzlbm, fpdm, fpqh, fpzh, bjbz, fsrq FROM purchase"
                                      " WHERE fpdm = ? AND fpqh <= ? ORDER BY fpqh DESC LIMIT 1"),
                       {fpdm, fphm});
    if (!p.next() || p.value(6).toString() < fphm) return std::nullopt;
    return PurchaseRow{p.value(0).toString(), p.value(1).toString(), p.value(2).toString(),
                       p.value(3).toString(), p.value(4).toString(), p.value(5).toString(),
                       p.value(6).toString(), p.value(7).toString(), p.value(8).toString()};
}

NumberInfo Service::Impl::numberInfo(const QString& fpdm, const QString& fphm) {
    NumberInfo info;
    QSqlQuery& q = run(QStringLiteral("SELECT sxh, fpzt FROM invoice WHERE fpdm = ? AND fphm = ?"), {fpdm, fphm});
    if (q.next()) {
        info.hasInvoice = true;
        info.invoiceSxh = q.value(0).toString();
        info.status = q.value(1).toString();
    }
    if (std::optional<PurchaseRow> p = purchaseHolding(fpdm, fphm)) {
        info.sold = true;
        info.purchase = *p;
        QSqlQuery& r = run(QStringLiteral("SELECT 1 FROM stock_return"
                                          " WHERE lglsh = ? AND tpqh <= ? AND tpzh >= ? LIMIT 1"),
                           {info.purchase.lglsh, fphm, fphm});
        info.returned = r.next();
    }
    if (!info.hasInvoice)
        info.status = !info.sold ? QStringLiteral("-2") : info.returned ? QStringLiteral("-1") : QStringLiteral("0");
    return info;
}

std::optional<StoredInvoice> Service::Impl::loadInvoice(const QString& fpdm, const QString& fphm) {
    const QStringList& hc = StoredInvoice::headerColumns();
    QSqlQuery& q = run(QStringLiteral("SELECT ") + columnList(hc) +
                           QStringLiteral(", raw_upload FROM invoice WHERE fpdm = ? AND fphm = ?"),
                       {fpdm, fphm});
    if (!q.next()) return std::nullopt;
    StoredInvoice inv;
    for (int i = 0; i < hc.size(); ++i) inv.header.append(q.value(i).toString());
    inv.rawUpload = q.value(hc.size()).toString();
    const QStringList& lc = StoredInvoice::lineColumns();
    QSqlQuery& l = run(QStringLiteral("SELECT ") + columnList(lc) +
                           QStringLiteral(" FROM invoice_line WHERE inv_fpdm = ? AND inv_fphm = ? ORDER BY line_no"),
                       {fpdm, fphm});
    while (l.next()) {
        QStringList line;
        for (int i = 0; i < lc.size(); ++i) line.append(l.value(i).toString());
        inv.lines.push_back(line);
    }
    return inv;
}

void Service::Impl::storeInvoice(const StoredInvoice& inv, const QString& layout) {
    const QString fpdm = inv.value(QStringLiteral("fpdm"));
    const QString fphm = inv.value(QStringLiteral("fphm"));
    run(QStringLiteral("DELETE FROM invoice_line WHERE inv_fpdm = ? AND inv_fphm = ?"), {fpdm, fphm});
    run(QStringLiteral("DELETE FROM invoice WHERE fpdm = ? AND fphm = ?"), {fpdm, fphm});
    const QStringList& hc = StoredInvoice::headerColumns();
    QVariantList binds;
    for (int i = 0; i < hc.size(); ++i) binds.append(i < inv.header.size() ? inv.header.at(i) : QString());
    binds.append(layout);
    binds.append(inv.rawUpload);
    run(QStringLiteral("INSERT INTO invoice (") + columnList(hc) + QStringLiteral(", layout, raw_upload) VALUES (") +
            placeholders(hc.size() + 2) + QStringLiteral(")"),
        binds);
    const QStringList& lc = StoredInvoice::lineColumns();
    const QString lineSql = QStringLiteral("INSERT INTO invoice_line (inv_fpdm, inv_fphm, line_no, ") + columnList(lc) +
                            QStringLiteral(") VALUES (") + placeholders(lc.size() + 3) + QStringLiteral(")");
    for (size_t n = 0; n < inv.lines.size(); ++n) {
        QVariantList lb{fpdm, fphm, int(n + 1)};
        for (int i = 0; i < lc.size(); ++i) lb.append(i < inv.lines[n].size() ? inv.lines[n].at(i) : QString());
        run(lineSql, lb);
    }
    if (const std::optional<PurchaseRow> p = purchaseHolding(fpdm, fphm)) refreshLastUsed(p->lglsh);
}

// ---------------------------------------------------------------------------
// Impl: requests

std::optional<Fault> Service::Impl::takeFault(int procId) {
    std::lock_guard<std::mutex> lock(stateMutex);
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (it->procId != 0 && it->procId != procId) continue;
        Fault f = it->fault;
        if (it->times > 0 && --it->times == 0) faults.erase(it);
        return f;
    }
    return std::nullopt;
}

// Checks the credentials against the taxpayers, remembered after the first
// lookup; forgetTaxpayers() clears what is remembered when a taxpayer changes.
Authentication Service::Impl::authenticate(const Request& request) {
    if (!open) return Authentication::StoreUnavailable;
    if (request.user.isEmpty() || request.password.isEmpty()) return Authentication::Missing;
    std::optional<TaxpayerRow> row;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        auto it = knownTaxpayers.constFind(request.user);
        if (it != knownTaxpayers.constEnd()) row = it.value();
    }
    if (!row) {
        try {
            row = onReader([&] { return taxpayer(request.user); });
        } catch (const DbError&) {
            return Authentication::StoreUnavailable;
        }
        if (!row) return Authentication::Wrong;
        std::lock_guard<std::mutex> lock(stateMutex);
        if (knownTaxpayers.size() >= 100000) knownTaxpayers.clear();
        knownTaxpayers.insert(request.user, *row);
    }
    return row->t.password == request.password ? Authentication::Ok : Authentication::Wrong;
}

void Service::Impl::forgetTaxpayers() {
    std::lock_guard<std::mutex> lock(stateMutex);
    knownTaxpayers.clear();
}

// The last requests, as many as fit in kLogEntries and kLogBytes.
void Service::Impl::logRequest(LoggedRequest entry) {
    const auto size = [](const LoggedRequest& e) {
        return qint64(e.user.size() + e.body.size() + e.response.body.size()) * qint64(sizeof(QChar)) + 64;
    };
    std::lock_guard<std::mutex> lock(stateMutex);
    logBytes += size(entry);
    log.push_back(std::move(entry));
    while (!log.empty() && (log.size() > kLogEntries || logBytes > kLogBytes)) {
        logBytes -= size(log.front());
        log.pop_front();
    }
}

Response Service::Impl::handle(const Request& request) {
    Response resp;
    const ParsedRequest pr = parseRequest(request.body);
    if (!request.path.endsWith(QLatin1String("/NormalServlet"))) {
        resp.kind = Response::Kind::HttpStatus;
        resp.httpStatus = 404;
        resp.body = QStringLiteral("未找到服务：") + request.path;
    } else {
        // A fault is meant for the client under test: only a request that
        // passes authentication takes it.
        const Authentication auth = authenticate(request);
        const std::optional<Fault> fault = auth == Authentication::Ok ? takeFault(pr.procId) : std::nullopt;
        if (fault) resp.delayMs = std::max(0, fault->delayMs);
        const Fault::Kind kind = fault ? fault->kind : Fault::Kind::Delay;
        switch (kind) {
        case Fault::Kind::Refuse:
            resp.body =
                QString::fromLatin1(kErr) +
                (fault->text.isEmpty() ? QStringLiteral("税务服务器暂时无法受理该业务，请稍后再试！") : fault->text);
            break;
        case Fault::Kind::HttpError:
            resp.kind = Response::Kind::HttpStatus;
            resp.httpStatus = fault->httpStatus > 0 ? fault->httpStatus : 500;
            resp.body = fault->text.isEmpty() ? QStringLiteral("Internal Server Error") : fault->text;
            break;
        case Fault::Kind::Malformed:
            resp.body = fault->text.isEmpty()
                            ? QStringLiteral("<html><body><h1>503 Service Temporarily Unavailable</h1></body></html>")
                            : fault->text;
            break;
        case Fault::Kind::Drop: resp.kind = Response::Kind::Drop; break;
        case Fault::Kind::Delay:
        case Fault::Kind::LostReply:
            resp.body = process(request, pr, auth);
            if (kind == Fault::Kind::LostReply) resp.kind = Response::Kind::Drop;
            break;
        }
    }
    logRequest({request.user, request.body, pr.procId, resp});
    return resp;
}

namespace {
bool onlyReads(int procId) {
    switch (procId) {
    case 90239:
    case 90001:
    case 90002:
    case 90003:
    case 90004: return true;
    default: return false;
    }
}
} // namespace

QString Service::Impl::process(const Request& request, const ParsedRequest& pr, Authentication auth) {
    const QString err = QString::fromLatin1(kErr);
    switch (auth) {
    case Authentication::StoreUnavailable: return err + QStringLiteral("税务服务器数据库不可用：") + error;
    case Authentication::Missing: return err + QStringLiteral("身份验证失败：请求中没有纳税人账号或密码！");
    case Authentication::Wrong: return err + QStringLiteral("身份验证失败：纳税人账号或密码错误！");
    case Authentication::Ok: break;
    }
    if (!pr.valid) return err + QStringLiteral("请求格式有误：") + pr.error + QStringLiteral("！");
    if (onlyReads(pr.procId)) return onReader([&] { return runProcedure(request, pr); });
    return runWrite([&] { return runProcedure(request, pr); });
}

QString Service::Impl::runWrite(std::function<QString()> work) {
    if (writer.isOwnThread()) return work();
    WriteJob job{std::move(work), {}};
    {
        std::lock_guard<std::mutex> lock(writeMutex);
        writeQueue.push_back(&job);
    }
    // By the time this call returns, this batch or an earlier one has taken
    // the job: batches run in order and take the queue from its front.
    onWriter([this] { runWriteBatch(); });
    return job.result;
}

void Service::Impl::runWriteBatch() {
    std::vector<WriteJob*> batch;
    {
        std::lock_guard<std::mutex> lock(writeMutex);
        while (!writeQueue.empty() && batch.size() < kWriteBatch) {
            batch.push_back(writeQueue.front());
            writeQueue.pop_front();
        }
    }
    if (batch.empty()) return;
    try {
        run(QStringLiteral("BEGIN"));
    } catch (const DbError& e) {
        for (WriteJob* job : batch)
            job->result =
                QString::fromLatin1(kErr) + QStringLiteral("税务服务器数据处理失败：") + QString::fromUtf8(e.what());
        return;
    }
    inBatch = true;
    for (WriteJob* job : batch) job->result = job->work();
    inBatch = false;
    savepointOpen = false;
    try {
        run(QStringLiteral("COMMIT"));
        committed();
    } catch (const DbError& e) {
        rollback();
        // Nothing of the batch was stored, whatever each procedure thought.
        for (WriteJob* job : batch)
            job->result =
                QString::fromLatin1(kErr) + QStringLiteral("税务服务器数据处理失败：") + QString::fromUtf8(e.what());
    }
}

QString Service::Impl::runProcedure(const Request& request, const ParsedRequest& pr) {
    const QString err = QString::fromLatin1(kErr);
    try {
        const QString& caller = request.user;
        switch (pr.procId) {
        case 90239: return procStatus(caller, pr);
        case 11633: return procUpload(caller, pr, request.body);
        case 98179: return procPrint(caller, pr);
        case 76129: return procVoid(caller, pr);
        case 90001: return procServerTime();
        case 90002: return procStock(caller);
        case 90003: return procCodes();
        case 90004: return procTaxpayer(caller);
        default: return err + QStringLiteral("不支持的业务编号：") + QString::number(pr.procId) + QStringLiteral("！");
        }
    } catch (const Refusal& r) {
        rollback();
        return err + r.text;
    } catch (const DbError& e) {
        rollback();
        return err + QStringLiteral("税务服务器数据处理失败：") + QString::fromUtf8(e.what());
    }
}

// ---------------------------------------------------------------------------
// Service

Service::Service(const QString& dbPath) : d(std::make_unique<Impl>()) {
    d->connectionName = QStringLiteral("taxsim_%1").arg(g_connectionCounter.fetch_add(1));
    d->dbPath = dbPath;
    d->writer.call([this] { d->openDb(); });
    d->openReaders();
}

Service::~Service() {
    d->readers.reset(); // each reader closes its connection as it ends
    d->writer.call([this] { d->closeDb(); });
}

bool Service::isOpen() const {
    return d->writer.call([this] { return d->open; });
}

QString Service::lastError() const {
    return d->writer.call([this] { return d->error; });
}

Response Service::handle(const Request& request) { return d->handle(request); }

void Service::injectFault(const Fault& fault, int procId, int times) {
    if (times == 0) return;
    std::lock_guard<std::mutex> lock(d->stateMutex);
    d->faults.push_back({fault, procId, times});
}

void Service::clearFaults() {
    std::lock_guard<std::mutex> lock(d->stateMutex);
    d->faults.clear();
}

int Service::pendingFaults() const {
    std::lock_guard<std::mutex> lock(d->stateMutex);
    return int(d->faults.size());
}

void Service::setServerTime(const QDateTime& fixed) {
    setClock([fixed] { return fixed; });
}

void Service::setClock(std::function<QDateTime()> clock) {
    std::lock_guard<std::mutex> lock(d->stateMutex);
    d->clock = std::move(clock);
}

QDateTime Service::serverTime() const { return d->now(); }

std::optional<StoredInvoice> Service::invoice(const QString& fpdm, const QString& fphm) const {
    return d->onWriter([&] { return d->loadInvoice(fpdm, fphm); });
}

int Service::invoiceCount() const {
    return d->onWriter([&] {
        QSqlQuery& q = d->run(QStringLiteral("SELECT count(1) FROM invoice"));
        return q.next() ? q.value(0).toInt() : 0;
    });
}

std::vector<PrintReport> Service::prints() const {
    return d->onWriter([&] {
        std::vector<PrintReport> out;
        QSqlQuery& q =
            d->run(QStringLiteral("SELECT fpdm, fphm, sxh, dycs, kpr, bz, reported_at FROM print_report ORDER BY id"));
        while (q.next()) {
            out.push_back({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString(),
                           q.value(4).toString(), q.value(5).toString(),
                           QDateTime::fromString(q.value(6).toString(), QString::fromLatin1(kDateTimeFormat))});
        }
        return out;
    });
}

std::vector<VoidReport> Service::voids() const {
    return d->onWriter([&] {
        std::vector<VoidReport> out;
        QSqlQuery& q =
            d->run(QStringLiteral("SELECT fpdm, fphm, sxh, fpzt, kpr, reported_at FROM void_report ORDER BY id"));
        while (q.next()) {
            out.push_back({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString(),
                           q.value(4).toString(),
                           QDateTime::fromString(q.value(5).toString(), QString::fromLatin1(kDateTimeFormat))});
        }
        return out;
    });
}

std::vector<LoggedRequest> Service::requestLog() const {
    std::lock_guard<std::mutex> lock(d->stateMutex);
    return std::vector<LoggedRequest>(d->log.begin(), d->log.end());
}

QString Service::statusOf(const QString& fpdm, const QString& fphm) const {
    return d->onWriter([&] { return d->numberInfo(fpdm, fphm).status; });
}

QString Service::control(const QString& commands) {
    return d->onWriter([&] { return d->control(commands); });
}

void Service::seedDemo() {
    d->onWriter([&] { d->seedDemo(); });
}

bool Service::seedLine(const QString& line, QString* error) {
    return d->onWriter([&] {
        try {
            d->seedLine(line);
            return true;
        } catch (const Refusal& r) {
            if (error) *error = r.text;
        } catch (const DbError& e) {
            if (error) *error = QString::fromUtf8(e.what());
        }
        return false;
    });
}

bool Service::seedFromFile(const QString& path, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        if (error) *error = QStringLiteral("无法打开种子文件：") + path;
        return false;
    }
    QTextStream in(&f);
    in.setEncoding(QStringConverter::Utf8);
    int lineNo = 0;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        ++lineNo;
        QString why;
        if (!seedLine(line, &why)) {
            if (error) *error = path + QStringLiteral(":") + QString::number(lineNo) + QStringLiteral(": ") + why;
            return false;
        }
    }
    return true;
}

void Service::addTaxOffice(const QString& swjgdm, const QString& swjgmc) {
    d->onWriter([&] { d->addTaxOffice(swjgdm, swjgmc); });
}

void Service::addTaxpayer(const Taxpayer& taxpayer) {
    d->onWriter([&] { d->addTaxpayer(taxpayer); });
}

void Service::addKind(const InvoiceKind& kind) {
    d->onWriter([&] { d->addKind(kind); });
}

void Service::addCode(const QString& fpdm, const QString& fpzlbm) {
    d->onWriter([&] { d->addCode(fpdm, fpzlbm); });
}

bool Service::addPurchase(const Purchase& purchase, QString* error) {
    return d->onWriter([&] {
        try {
            d->addPurchase(purchase);
            return true;
        } catch (const Refusal& r) {
            if (error) *error = r.text;
        }
        return false;
    });
}

bool Service::addReturn(const ReturnedRange& range, QString* error) {
    return d->onWriter([&] {
        try {
            d->addReturn(range);
            return true;
        } catch (const Refusal& r) {
            if (error) *error = r.text;
        }
        return false;
    });
}

void Service::addInvoice(const StoredInvoice& invoice) {
    d->onWriter([&] {
        d->begin();
        try {
            d->storeInvoice(invoice, QStringLiteral("seed"));
            d->commit();
        } catch (...) {
            d->rollback();
            throw;
        }
    });
}

bool Service::hasTaxpayers() const {
    return d->onWriter([&] {
        QSqlQuery& q = d->run(QStringLiteral("SELECT count(1) FROM taxpayer"));
        return q.next() && q.value(0).toInt() > 0;
    });
}

} // namespace taxsim
