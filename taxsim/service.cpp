#include "taxsim/service.h"
#include "taxsim/service_impl.h"

#include <QFile>
#include <QSqlError>
#include <QSqlRecord>
#include <QTextStream>

#include <atomic>

namespace taxsim {

// ---------------------------------------------------------------------------
// StoredInvoice

const QStringList& StoredInvoice::headerColumns()
{
    static const QStringList cols = {
        QStringLiteral("fpdm"),     QStringLiteral("fphm"),     QStringLiteral("fpzlbm"),
        QStringLiteral("swjgdm"),   QStringLiteral("sxh"),      QStringLiteral("fpzt"),
        QStringLiteral("fkfmc"),    QStringLiteral("fkfzjlx"),  QStringLiteral("fkfzjhm"),
        QStringLiteral("zbrbz"),    QStringLiteral("skfmc"),    QStringLiteral("skfzjlx"),
        QStringLiteral("skfzjhm"),  QStringLiteral("skflxdh"),  QStringLiteral("fbrbz"),
        QStringLiteral("hjje"),     QStringLiteral("hjdx"),     QStringLiteral("sl"),
        QStringLiteral("se"),       QStringLiteral("wspzh"),    QStringLiteral("bz"),
        QStringLiteral("kpr"),      QStringLiteral("bcrq"),     QStringLiteral("kprq"),
        QStringLiteral("drcs"),     QStringLiteral("userid"),   QStringLiteral("username"),
        QStringLiteral("mjlx"),     QStringLiteral("extprop1"), QStringLiteral("extprop2"),
        QStringLiteral("extprop3"), QStringLiteral("extprop4"), QStringLiteral("extprop5"),
    };
    return cols;
}

const QStringList& StoredInvoice::lineColumns()
{
    static const QStringList cols = {
        QStringLiteral("iserial"),  QStringLiteral("fpdm"),     QStringLiteral("fphm"),
        QStringLiteral("xmmc"),     QStringLiteral("xmbh"),     QStringLiteral("jsxm"),
        QStringLiteral("bdclph"),   QStringLiteral("mj"),       QStringLiteral("dj"),
        QStringLiteral("kxxz"),     QStringLiteral("je"),       QStringLiteral("wspzh"),
        QStringLiteral("extprop1"), QStringLiteral("extprop2"), QStringLiteral("extprop3"),
        QStringLiteral("extprop4"), QStringLiteral("extprop5"),
    };
    return cols;
}

StoredInvoice StoredInvoice::create(const QString& fpdm, const QString& fphm)
{
    StoredInvoice inv;
    for (int i = 0; i < headerColumns().size(); ++i)
        inv.header.append(QStringLiteral(""));
    inv.setValue(QStringLiteral("fpdm"), fpdm);
    inv.setValue(QStringLiteral("fphm"), fphm);
    return inv;
}

QString StoredInvoice::value(const QString& column) const
{
    const int i = headerColumns().indexOf(column);
    return i >= 0 && i < header.size() ? header.at(i) : QString();
}

void StoredInvoice::setValue(const QString& column, const QString& v)
{
    const int i = headerColumns().indexOf(column);
    if (i < 0)
        return;
    while (header.size() < headerColumns().size())
        header.append(QStringLiteral(""));
    header[i] = v;
}

QString StoredInvoice::lineValue(int line, const QString& column) const
{
    const int i = lineColumns().indexOf(column);
    if (line < 0 || line >= int(lines.size()) || i < 0 || i >= lines[line].size())
        return QString();
    return lines[line].at(i);
}

void StoredInvoice::setLineValue(int line, const QString& column, const QString& v)
{
    const int i = lineColumns().indexOf(column);
    if (line < 0 || line >= int(lines.size()) || i < 0)
        return;
    while (lines[line].size() < lineColumns().size())
        lines[line].append(QStringLiteral(""));
    lines[line][i] = v;
}

int StoredInvoice::addLine()
{
    QStringList l;
    for (int i = 0; i < lineColumns().size(); ++i)
        l.append(QStringLiteral(""));
    const int n = int(lines.size());
    l[1] = value(QStringLiteral("fpdm"));
    l[2] = value(QStringLiteral("fphm"));
    l[0] = QString::number(n + 1);
    lines.push_back(l);
    return n;
}

QString statusName(const QString& status)
{
    if (status == QLatin1String("-2")) return QStringLiteral("未领购");
    if (status == QLatin1String("-1")) return QStringLiteral("已退库");
    if (status == QLatin1String("0")) return QStringLiteral("未使用");
    if (status == QLatin1String("1")) return QStringLiteral("已开票");
    if (status == QLatin1String("2")) return QStringLiteral("已作废");
    if (status == QLatin1String("3")) return QStringLiteral("已作废（空白）");
    return QStringLiteral("未知状态");
}

// ---------------------------------------------------------------------------
// Impl: database

namespace {
std::atomic<int> g_connectionCounter{0};

QString columnList(const QStringList& cols)
{
    return cols.join(QStringLiteral(", "));
}

QString placeholders(int n)
{
    QStringList p;
    for (int i = 0; i < n; ++i)
        p.append(QStringLiteral("?"));
    return p.join(QStringLiteral(", "));
}
} // namespace

void Service::Impl::openDb()
{
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    db.setDatabaseName(dbPath);
    if (!db.open()) {
        error = db.lastError().text();
        return;
    }
    try {
        if (dbPath != QLatin1String(":memory:")) {
            run(QStringLiteral("PRAGMA journal_mode=WAL"));
            run(QStringLiteral("PRAGMA synchronous=FULL"));
            run(QStringLiteral("PRAGMA busy_timeout=5000"));
        }
        QStringList headerCols;
        for (const QString& c : StoredInvoice::headerColumns())
            headerCols.append(c + QStringLiteral(" TEXT NOT NULL DEFAULT ''"));
        QStringList lineCols;
        for (const QString& c : StoredInvoice::lineColumns())
            lineCols.append(c + QStringLiteral(" TEXT NOT NULL DEFAULT ''"));
        const QStringList schema = {
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
                           " fpzh TEXT NOT NULL, bjbz TEXT NOT NULL, fsrq TEXT NOT NULL)"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS stock_return ("
                           " id INTEGER PRIMARY KEY AUTOINCREMENT, lglsh TEXT NOT NULL,"
                           " tpqh TEXT NOT NULL, tpzh TEXT NOT NULL, tprq TEXT NOT NULL)"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS invoice (")
                + headerCols.join(QStringLiteral(", "))
                + QStringLiteral(", layout TEXT NOT NULL DEFAULT '', raw_upload TEXT NOT NULL DEFAULT '',"
                                 " PRIMARY KEY (fpdm, fphm))"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS invoice_line ("
                           " inv_fpdm TEXT NOT NULL, inv_fphm TEXT NOT NULL, line_no INTEGER NOT NULL, ")
                + lineCols.join(QStringLiteral(", "))
                + QStringLiteral(", PRIMARY KEY (inv_fpdm, inv_fphm, line_no))"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS print_report ("
                           " id INTEGER PRIMARY KEY AUTOINCREMENT, fpdm TEXT, fphm TEXT, sxh TEXT,"
                           " dycs TEXT, kpr TEXT, bz TEXT, reported_at TEXT)"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS void_report ("
                           " id INTEGER PRIMARY KEY AUTOINCREMENT, fpdm TEXT, fphm TEXT, sxh TEXT,"
                           " fpzt TEXT, kpr TEXT, reported_at TEXT)"),
        };
        for (const QString& sql : schema)
            run(sql);
        open = true;
    } catch (const DbError& e) {
        error = QString::fromUtf8(e.what());
    }
}

void Service::Impl::closeDb()
{
    if (db.isValid())
        db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName);
}

QSqlQuery Service::Impl::run(const QString& sql, const QVariantList& binds)
{
    QSqlQuery q(db);
    if (!q.prepare(sql))
        throw DbError(QString(q.lastError().text() + QStringLiteral(" [") + sql + QStringLiteral("]")).toStdString());
    for (const QVariant& b : binds) {
        // A null QString would be stored as NULL; the store keeps empty texts.
        if (b.metaType().id() == QMetaType::QString && b.toString().isNull())
            q.addBindValue(QStringLiteral(""));
        else
            q.addBindValue(b);
    }
    if (!q.exec())
        throw DbError(QString(q.lastError().text() + QStringLiteral(" [") + sql + QStringLiteral("]")).toStdString());
    return q;
}

void Service::Impl::begin()
{
    if (!db.transaction())
        throw DbError(db.lastError().text().toStdString());
}

void Service::Impl::commit()
{
    if (!db.commit())
        throw DbError(db.lastError().text().toStdString());
}

void Service::Impl::rollback()
{
    db.rollback();
}

QDateTime Service::Impl::now() const
{
    QDateTime t = clock ? clock() : QDateTime::currentDateTime();
    return t.addMSecs(-t.time().msec());
}

// ---------------------------------------------------------------------------
// Impl: lookups

std::optional<TaxpayerRow> Service::Impl::taxpayer(const QString& sxh)
{
    QSqlQuery q = run(QStringLiteral(
                          "SELECT t.sxh, t.password, t.name, t.nsrsbh, t.lxdh, t.swjgdm, o.swjgmc"
                          " FROM taxpayer t LEFT JOIN tax_office o ON o.swjgdm = t.swjgdm WHERE t.sxh = ?"),
                      {sxh});
    if (!q.next())
        return std::nullopt;
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

QString Service::Impl::codeKind(const QString& fpdm)
{
    QSqlQuery q = run(QStringLiteral("SELECT fpzlbm FROM invoice_code WHERE fpdm = ?"), {fpdm});
    return q.next() ? q.value(0).toString() : QString();
}

NumberInfo Service::Impl::numberInfo(const QString& fpdm, const QString& fphm)
{
    NumberInfo info;
    QSqlQuery q = run(QStringLiteral("SELECT sxh, fpzt FROM invoice WHERE fpdm = ? AND fphm = ?"),
                      {fpdm, fphm});
    if (q.next()) {
        info.hasInvoice = true;
        info.invoiceSxh = q.value(0).toString();
        info.status = q.value(1).toString();
    }
    QSqlQuery p = run(QStringLiteral(
                          "SELECT lglsh, swjgdm, sxh, fpzlbm, fpdm, fpqh, fpzh, bjbz, fsrq FROM purchase"
                          " WHERE fpdm = ? AND fpqh <= ? AND fpzh >= ? ORDER BY lglsh"),
                      {fpdm, fphm, fphm});
    if (p.next()) {
        info.sold = true;
        info.purchase = {p.value(0).toString(), p.value(1).toString(), p.value(2).toString(),
                         p.value(3).toString(), p.value(4).toString(), p.value(5).toString(),
                         p.value(6).toString(), p.value(7).toString(), p.value(8).toString()};
        QSqlQuery r = run(QStringLiteral("SELECT count(1) FROM stock_return"
                                         " WHERE lglsh = ? AND tpqh <= ? AND tpzh >= ?"),
                          {info.purchase.lglsh, fphm, fphm});
        info.returned = r.next() && r.value(0).toInt() > 0;
    }
    if (!info.hasInvoice)
        info.status = !info.sold ? QStringLiteral("-2") : info.returned ? QStringLiteral("-1") : QStringLiteral("0");
    return info;
}

std::optional<StoredInvoice> Service::Impl::loadInvoice(const QString& fpdm, const QString& fphm)
{
    const QStringList& hc = StoredInvoice::headerColumns();
    QSqlQuery q = run(QStringLiteral("SELECT ") + columnList(hc)
                          + QStringLiteral(", raw_upload FROM invoice WHERE fpdm = ? AND fphm = ?"),
                      {fpdm, fphm});
    if (!q.next())
        return std::nullopt;
    StoredInvoice inv;
    for (int i = 0; i < hc.size(); ++i)
        inv.header.append(q.value(i).toString());
    inv.rawUpload = q.value(hc.size()).toString();
    const QStringList& lc = StoredInvoice::lineColumns();
    QSqlQuery l = run(QStringLiteral("SELECT ") + columnList(lc)
                          + QStringLiteral(" FROM invoice_line WHERE inv_fpdm = ? AND inv_fphm = ? ORDER BY line_no"),
                      {fpdm, fphm});
    while (l.next()) {
        QStringList line;
        for (int i = 0; i < lc.size(); ++i)
            line.append(l.value(i).toString());
        inv.lines.push_back(line);
    }
    return inv;
}

void Service::Impl::storeInvoice(const StoredInvoice& inv, const QString& layout)
{
    const QString fpdm = inv.value(QStringLiteral("fpdm"));
    const QString fphm = inv.value(QStringLiteral("fphm"));
    run(QStringLiteral("DELETE FROM invoice_line WHERE inv_fpdm = ? AND inv_fphm = ?"), {fpdm, fphm});
    run(QStringLiteral("DELETE FROM invoice WHERE fpdm = ? AND fphm = ?"), {fpdm, fphm});
    const QStringList& hc = StoredInvoice::headerColumns();
    QVariantList binds;
    for (int i = 0; i < hc.size(); ++i)
        binds.append(i < inv.header.size() ? inv.header.at(i) : QString());
    binds.append(layout);
    binds.append(inv.rawUpload);
    run(QStringLiteral("INSERT INTO invoice (") + columnList(hc) + QStringLiteral(", layout, raw_upload) VALUES (")
            + placeholders(hc.size() + 2) + QStringLiteral(")"),
        binds);
    const QStringList& lc = StoredInvoice::lineColumns();
    const QString lineSql = QStringLiteral("INSERT INTO invoice_line (inv_fpdm, inv_fphm, line_no, ")
        + columnList(lc) + QStringLiteral(") VALUES (") + placeholders(lc.size() + 3) + QStringLiteral(")");
    for (size_t n = 0; n < inv.lines.size(); ++n) {
        QVariantList lb{fpdm, fphm, int(n + 1)};
        for (int i = 0; i < lc.size(); ++i)
            lb.append(i < inv.lines[n].size() ? inv.lines[n].at(i) : QString());
        run(lineSql, lb);
    }
}

// ---------------------------------------------------------------------------
// Impl: requests

std::optional<Fault> Service::Impl::takeFault(int procId)
{
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (it->procId != 0 && it->procId != procId)
            continue;
        Fault f = it->fault;
        if (it->times > 0 && --it->times == 0)
            faults.erase(it);
        return f;
    }
    return std::nullopt;
}

Response Service::Impl::handle(const Request& request)
{
    Response resp;
    const ParsedRequest pr = parseRequest(request.body);
    if (!request.path.endsWith(QLatin1String("/NormalServlet"))) {
        resp.kind = Response::Kind::HttpStatus;
        resp.httpStatus = 404;
        resp.body = QStringLiteral("未找到服务：") + request.path;
    } else {
        const std::optional<Fault> fault = takeFault(pr.procId);
        if (fault)
            resp.delayMs = std::max(0, fault->delayMs);
        const Fault::Kind kind = fault ? fault->kind : Fault::Kind::Delay;
        switch (kind) {
        case Fault::Kind::Refuse:
            resp.body = QString::fromLatin1(kErr)
                + (fault->text.isEmpty() ? QStringLiteral("税务服务器暂时无法受理该业务，请稍后再试！") : fault->text);
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
        case Fault::Kind::Drop:
            resp.kind = Response::Kind::Drop;
            break;
        case Fault::Kind::Delay:
        case Fault::Kind::LostReply:
            resp.body = process(request, pr);
            if (kind == Fault::Kind::LostReply)
                resp.kind = Response::Kind::Drop;
            break;
        }
    }
    LoggedRequest entry{request.user, request.body, pr.procId, resp};
    log.push_back(entry);
    while (log.size() > 1000)
        log.pop_front();
    return resp;
}

QString Service::Impl::process(const Request& request, const ParsedRequest& pr)
{
    const QString err = QString::fromLatin1(kErr);
    if (!open)
        return err + QStringLiteral("税务服务器数据库不可用：") + error;
    try {
        if (request.user.isEmpty() || request.password.isEmpty())
            return err + QStringLiteral("身份验证失败：请求中没有纳税人账号或密码！");
        const std::optional<TaxpayerRow> tp = taxpayer(request.user);
        if (!tp || tp->t.password != request.password)
            return err + QStringLiteral("身份验证失败：纳税人账号或密码错误！");
        if (!pr.valid)
            return err + QStringLiteral("请求格式有误：") + pr.error + QStringLiteral("！");
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
        default:
            return err + QStringLiteral("不支持的业务编号：") + QString::number(pr.procId) + QStringLiteral("！");
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

Service::Service(const QString& dbPath)
    : d(std::make_unique<Impl>())
{
    d->connectionName = QStringLiteral("taxsim_%1").arg(g_connectionCounter.fetch_add(1));
    d->dbPath = dbPath;
    d->thread.call([this] { d->openDb(); });
}

Service::~Service()
{
    d->thread.call([this] { d->closeDb(); });
}

bool Service::isOpen() const
{
    return d->thread.call([this] { return d->open; });
}

QString Service::lastError() const
{
    return d->thread.call([this] { return d->error; });
}

Response Service::handle(const Request& request)
{
    return d->thread.call([&] { return d->handle(request); });
}

void Service::injectFault(const Fault& fault, int procId, int times)
{
    if (times == 0)
        return;
    d->thread.call([&] { d->faults.push_back({fault, procId, times}); });
}

void Service::clearFaults()
{
    d->thread.call([&] { d->faults.clear(); });
}

int Service::pendingFaults() const
{
    return d->thread.call([&] { return int(d->faults.size()); });
}

void Service::setServerTime(const QDateTime& fixed)
{
    setClock([fixed] { return fixed; });
}

void Service::setClock(std::function<QDateTime()> clock)
{
    d->thread.call([&] { d->clock = std::move(clock); });
}

QDateTime Service::serverTime() const
{
    return d->thread.call([&] { return d->now(); });
}

std::optional<StoredInvoice> Service::invoice(const QString& fpdm, const QString& fphm) const
{
    return d->thread.call([&] { return d->loadInvoice(fpdm, fphm); });
}

int Service::invoiceCount() const
{
    return d->thread.call([&] {
        QSqlQuery q = d->run(QStringLiteral("SELECT count(1) FROM invoice"));
        return q.next() ? q.value(0).toInt() : 0;
    });
}

std::vector<PrintReport> Service::prints() const
{
    return d->thread.call([&] {
        std::vector<PrintReport> out;
        QSqlQuery q = d->run(QStringLiteral(
            "SELECT fpdm, fphm, sxh, dycs, kpr, bz, reported_at FROM print_report ORDER BY id"));
        while (q.next()) {
            out.push_back({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                           q.value(3).toString(), q.value(4).toString(), q.value(5).toString(),
                           QDateTime::fromString(q.value(6).toString(), QString::fromLatin1(kDateTimeFormat))});
        }
        return out;
    });
}

std::vector<VoidReport> Service::voids() const
{
    return d->thread.call([&] {
        std::vector<VoidReport> out;
        QSqlQuery q = d->run(QStringLiteral(
            "SELECT fpdm, fphm, sxh, fpzt, kpr, reported_at FROM void_report ORDER BY id"));
        while (q.next()) {
            out.push_back({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                           q.value(3).toString(), q.value(4).toString(),
                           QDateTime::fromString(q.value(5).toString(), QString::fromLatin1(kDateTimeFormat))});
        }
        return out;
    });
}

std::vector<LoggedRequest> Service::requestLog() const
{
    return d->thread.call([&] { return std::vector<LoggedRequest>(d->log.begin(), d->log.end()); });
}

QString Service::statusOf(const QString& fpdm, const QString& fphm) const
{
    return d->thread.call([&] { return d->numberInfo(fpdm, fphm).status; });
}

QString Service::control(const QString& commands)
{
    return d->thread.call([&] { return d->control(commands); });
}

void Service::seedDemo()
{
    d->thread.call([&] { d->seedDemo(); });
}

bool Service::seedLine(const QString& line, QString* error)
{
    return d->thread.call([&] {
        try {
            d->seedLine(line);
            return true;
        } catch (const Refusal& r) {
            if (error)
                *error = r.text;
        } catch (const DbError& e) {
            if (error)
                *error = QString::fromUtf8(e.what());
        }
        return false;
    });
}

bool Service::seedFromFile(const QString& path, QString* error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        if (error)
            *error = QStringLiteral("无法打开种子文件：") + path;
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
            if (error)
                *error = path + QStringLiteral(":") + QString::number(lineNo) + QStringLiteral(": ") + why;
            return false;
        }
    }
    return true;
}

void Service::addTaxOffice(const QString& swjgdm, const QString& swjgmc)
{
    d->thread.call([&] { d->addTaxOffice(swjgdm, swjgmc); });
}

void Service::addTaxpayer(const Taxpayer& taxpayer)
{
    d->thread.call([&] { d->addTaxpayer(taxpayer); });
}

void Service::addKind(const InvoiceKind& kind)
{
    d->thread.call([&] { d->addKind(kind); });
}

void Service::addCode(const QString& fpdm, const QString& fpzlbm)
{
    d->thread.call([&] { d->addCode(fpdm, fpzlbm); });
}

bool Service::addPurchase(const Purchase& purchase, QString* error)
{
    return d->thread.call([&] {
        try {
            d->addPurchase(purchase);
            return true;
        } catch (const Refusal& r) {
            if (error)
                *error = r.text;
        }
        return false;
    });
}

bool Service::addReturn(const ReturnedRange& range, QString* error)
{
    return d->thread.call([&] {
        try {
            d->addReturn(range);
            return true;
        } catch (const Refusal& r) {
            if (error)
                *error = r.text;
        }
        return false;
    });
}

void Service::addInvoice(const StoredInvoice& invoice)
{
    d->thread.call([&] {
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

bool Service::hasTaxpayers() const
{
    return d->thread.call([&] {
        QSqlQuery q = d->run(QStringLiteral("SELECT count(1) FROM taxpayer"));
        return q.next() && q.value(0).toInt() > 0;
    });
}

} // namespace taxsim
