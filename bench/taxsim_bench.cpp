// taxsim under load, against a big store: status requests and uploads per
// second with 1, 50 and 200 concurrent keep-alive clients on loopback, each as
// a ratio to the same statements run bare (one thread, one connection) on the
// same store; and the time of the stock text (90002) for a taxpayer with
// 20,000 purchases and 2,000 returns.
//
//   taxsim_bench [--seconds S] [--clients 1,50,200] [--rebuild]
//
// The store (100,000 purchases of 1,100 taxpayers, 1,000,000 invoices) is
// built once and kept in the temporary folder; every run works on a fresh
// copy of it. Exit status 1 when a request failed at the highest client count
// or the stock text took 100 ms or more.
#include "taxsim/http_server.h"
#include "taxsim/service.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <arpa/inet.h>
#include <ctime>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// --- the store ---------------------------------------------------------------

constexpr int kCodes = 100;
constexpr int kRangesPerCode = 1000; // 100,000 purchases
constexpr int kRangeSize = 100;
constexpr int kIssuedPerRange = 10; // 1,000,000 invoices
constexpr int kTaxpayers = 1000;    // besides the big one
constexpr int kBigReturns = 2000;
constexpr int kStoreVersion = 4;

const char* const kPassword = "bench-pw";

QString code(int c) { return QStringLiteral("13700000%1").arg(c, 4, 10, QLatin1Char('0')); }
QString number(int n) { return QStringLiteral("%1").arg(n, 8, 10, QLatin1Char('0')); }
QString bigTaxpayer() { return QStringLiteral("3700000000000"); }
QString taxpayer(int t) { return QStringLiteral("37000%1").arg(t, 8, 10, QLatin1Char('0')); }

// Purchase g (0..99,999): code g / 1000, range g % 1000. Every fifth belongs
// to the big taxpayer (20,000), the others are spread over the rest.
QString ownerOf(int g) { return g % 5 == 0 ? bigTaxpayer() : taxpayer(1 + g % kTaxpayers); }
int firstOf(int g) { return (g % kRangesPerCode) * kRangeSize + 1; }
QString codeOf(int g) { return code(g / kRangesPerCode); }

struct Exec {
    QSqlDatabase db;
    void operator()(const QString& sql) const {
        QSqlQuery q(db);
        if (!q.exec(sql))
            throw std::runtime_error(
                QString(q.lastError().text() + QStringLiteral(" [") + sql + QStringLiteral("]")).toStdString());
    }
};

void bulkInsert(QSqlDatabase& db, const QString& sql, int rows, const std::function<QVariantList(int)>& row) {
    QSqlQuery q(db);
    if (!q.prepare(sql)) throw std::runtime_error(q.lastError().text().toStdString());
    for (int i = 0; i < rows; ++i) {
        const QVariantList values = row(i);
        for (int v = 0; v < values.size(); ++v) q.bindValue(v, values.at(v));
        if (!q.exec()) throw std::runtime_error(q.lastError().text().toStdString());
    }
}

void fillStore(const QString& path) {
    {
        taxsim::Service schema(path); // tables, indexes and the demo data
        if (!schema.isOpen()) throw std::runtime_error(schema.lastError().toStdString());
        schema.seedDemo();
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench_build"));
    db.setDatabaseName(path);
    if (!db.open()) throw std::runtime_error(db.lastError().text().toStdString());
    const Exec exec{db};
    exec(QStringLiteral("PRAGMA journal_mode=DELETE"));
    exec(QStringLiteral("PRAGMA synchronous=OFF"));
    exec(QStringLiteral("BEGIN"));
    exec(QStringLiteral("INSERT OR REPLACE INTO tax_office (swjgdm, swjgmc) VALUES ('13702000000', '压力测试税务所')"));
    bulkInsert(
        db,
        QStringLiteral(
            "INSERT INTO taxpayer (sxh, password, name, nsrsbh, lxdh, swjgdm) VALUES (?, ?, ?, ?, '', '13702000000')"),
        kTaxpayers + 1, [](int t) {
            const QString sxh = t == 0 ? bigTaxpayer() : taxpayer(t);
            return QVariantList{sxh, QString::fromLatin1(kPassword), QString(QStringLiteral("压力测试公司") + sxh),
                                QString(QStringLiteral("91370200") + sxh)};
        });
    bulkInsert(db, QStringLiteral("INSERT INTO invoice_code (fpdm, fpzlbm) VALUES (?, '50')"), kCodes,
               [](int c) { return QVariantList{code(c)}; });
    bulkInsert(db,
               QStringLiteral("INSERT INTO purchase (lglsh, swjgdm, sxh, fpzlbm, fpdm, fpqh, fpzh, bjbz, fsrq, zjsyh)"
                              " VALUES (?, '13702000000', ?, '50', ?, ?, ?, '0', '2024-01-02 09:00:00', ?)"),
               kCodes * kRangesPerCode, [](int g) {
                   return QVariantList{QStringLiteral("BL%1").arg(g, 8, 10, QLatin1Char('0')),
                                       ownerOf(g),
                                       codeOf(g),
                                       number(firstOf(g)),
                                       number(firstOf(g) + kRangeSize - 1),
                                       number(firstOf(g) + kIssuedPerRange - 1)};
               });
    // The last ten numbers of every tenth purchase of the big taxpayer.
    bulkInsert(
        db,
        QStringLiteral("INSERT INTO stock_return (lglsh, tpqh, tpzh, tprq) VALUES (?, ?, ?, '2024-02-03 10:00:00')"),
        kBigReturns, [](int r) {
            const int g = r * 50; // every tenth of the big taxpayer's (every fifth purchase)
            return QVariantList{QStringLiteral("BL%1").arg(g, 8, 10, QLatin1Char('0')),
                                number(firstOf(g) + kRangeSize - 10), number(firstOf(g) + kRangeSize - 1)};
        });
    const QStringList& hc = taxsim::StoredInvoice::headerColumns();
    QStringList marks;
    for (int i = 0; i < hc.size() + 2; ++i) marks.append(QStringLiteral("?"));
    bulkInsert(db,
               QStringLiteral("INSERT INTO invoice (") + hc.join(QStringLiteral(", ")) +
                   QStringLiteral(", layout, raw_upload) VALUES (") + marks.join(QStringLiteral(", ")) +
                   QStringLiteral(")"),
               kCodes * kRangesPerCode * kIssuedPerRange, [&](int i) {
                   const int g = i / kIssuedPerRange;
                   taxsim::StoredInvoice inv =
                       taxsim::StoredInvoice::create(codeOf(g), number(firstOf(g) + i % kIssuedPerRange));
                   inv.setValue(QStringLiteral("fpzlbm"), QStringLiteral("50"));
                   inv.setValue(QStringLiteral("swjgdm"), QStringLiteral("13702000000"));
                   inv.setValue(QStringLiteral("sxh"), ownerOf(g));
                   inv.setValue(QStringLiteral("fpzt"), QStringLiteral("1"));
                   inv.setValue(QStringLiteral("fkfmc"), QStringLiteral("青岛海景置业有限公司"));
                   inv.setValue(QStringLiteral("hjje"), QStringLiteral("100.50"));
                   inv.setValue(QStringLiteral("kpr"), QStringLiteral("张三"));
                   inv.setValue(QStringLiteral("bcrq"), QStringLiteral("20240301080509"));
                   QVariantList values;
                   for (const QString& v : inv.header) values.append(v);
                   values.append(QStringLiteral("integrated"));
                   values.append(QStringLiteral(""));
                   return values;
               });
    exec(QStringLiteral("PRAGMA user_version=%1").arg(kStoreVersion));
    exec(QStringLiteral("COMMIT"));
    exec(QStringLiteral("ANALYZE"));
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("bench_build"));
}

int storeVersion(const QString& path) {
    if (!QFile::exists(path)) return -1;
    int version = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench_probe"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("PRAGMA user_version")) && q.next()) version = q.value(0).toInt();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench_probe"));
    return version;
}

// The cached store, built when missing or outdated; a fresh copy to work on.
QString preparedStore(bool rebuild) {
    const QString cached = QDir(QDir::tempPath()).filePath(QStringLiteral("fpdesk-taxsim-bench.db"));
    if (rebuild || storeVersion(cached) != kStoreVersion) {
        std::cout << "building the store (once) in " << cached.toStdString() << " ..." << std::flush;
        QElapsedTimer t;
        t.start();
        const QString part = cached + QStringLiteral(".part");
        for (const QString& f : QStringList{part, part + QStringLiteral("-wal"), part + QStringLiteral("-shm"), cached})
            QFile::remove(f);
        fillStore(part);
        QFile::rename(part, cached);
        std::cout << " " << t.elapsed() / 1000.0 << " s\n";
    }
    const QString work = QDir(QDir::tempPath()).filePath(QStringLiteral("fpdesk-taxsim-bench-run-%1.db").arg(getpid()));
    for (const QString& f : QStringList{work, work + QStringLiteral("-wal"), work + QStringLiteral("-shm")})
        QFile::remove(f);
    if (!QFile::copy(cached, work)) throw std::runtime_error("cannot copy the cached store");
    return work;
}

// --- requests ------------------------------------------------------------------

QString statusText(const QString& fpdm, const QString& fphm) {
    return QStringLiteral("proc_id:90239\r\nas_fpdm:") + fpdm + QStringLiteral("\r\nas_fphm:") + fphm +
           QStringLiteral("\r\nas_getinfo:0");
}

QString uploadText(const QString& fpdm, const QString& fphm, const QString& sxh) {
    taxsim::StoredInvoice inv = taxsim::StoredInvoice::create(fpdm, fphm);
    const auto set = [&](const char* c, const QString& v) { inv.setValue(QString::fromLatin1(c), v); };
    set("fpzlbm", QStringLiteral("50"));
    set("swjgdm", QStringLiteral("13702000000"));
    set("sxh", sxh);
    set("fpzt", QStringLiteral("1"));
    set("fkfmc", QStringLiteral("青岛海景置业有限公司"));
    set("fkfzjlx", QStringLiteral("纳税人识别号"));
    set("fkfzjhm", QStringLiteral("91370200MA3C99999Y"));
    set("zbrbz", QStringLiteral("0"));
    set("skfmc", QStringLiteral("压力测试公司"));
    set("fbrbz", QStringLiteral("0"));
    set("hjje", QStringLiteral("100.50"));
    set("hjdx", QStringLiteral("壹佰元伍角"));
    set("kpr", QStringLiteral("张三"));
    set("bcrq", QStringLiteral("20240301080509"));
    set("kprq", QStringLiteral("20240301080509"));
    set("drcs", QStringLiteral("0.00"));
    set("mjlx", QStringLiteral("1"));
    const int n = inv.addLine();
    inv.setLineValue(n, QStringLiteral("iserial"), QStringLiteral("1.00"));
    inv.setLineValue(n, QStringLiteral("xmmc"), QStringLiteral("咨询服务费"));
    inv.setLineValue(n, QStringLiteral("mj"), QStringLiteral("1.00"));
    inv.setLineValue(n, QStringLiteral("dj"), QStringLiteral("100.50"));
    inv.setLineValue(n, QStringLiteral("je"), QStringLiteral("100.50"));
    QString data;
    for (const QString& v : inv.header) data += v + QStringLiteral("|#|");
    for (const QString& v : inv.lines[0]) data += v + QStringLiteral("|@|");
    data += QStringLiteral("|&|");
    return QStringLiteral("proc_id:11633\r\nas_data:") + data + QStringLiteral("\r\n");
}

// The purchases of the taxpayers other than the big one, in a fixed order.
int smallPurchase(int j) { return (j / 4) * 5 + 1 + j % 4; }
constexpr int kSmallPurchases = kCodes * kRangesPerCode / 5 * 4;

// --- a keep-alive HTTP client ----------------------------------------------------

class Connection {
public:
    explicit Connection(int port) : port_(port) {}
    ~Connection() { drop(); }

    // One POST; the body of a 200 answer, or nothing when it failed.
    bool post(const std::string& auth, const std::string& body, std::string& reply) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (fd_ < 0 && !open()) return false;
            const bool reused = !fresh_;
            const std::string request =
                "POST /NormalServlet HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: " + auth +
                "\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\n\r\n" + body;
            int status = 0;
            if (!sendAll(request) || !readAnswer(status, reply)) {
                drop();
                if (reused && status == 0)
                    continue; // the server had closed the idle connection: once more on a new one
                return false;
            }
            fresh_ = false;
            return status == 200;
        }
        return false;
    }

private:
    bool open() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(quint16(port_));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            drop();
            return false;
        }
        const int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        timeval tv{30, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        fresh_ = true;
        buf_.clear();
        return true;
    }
    void drop() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }
    bool sendAll(const std::string& s) {
        size_t done = 0;
        while (done < s.size()) {
            const ssize_t w = send(fd_, s.data() + done, s.size() - done, MSG_NOSIGNAL);
            if (w <= 0) return false;
            done += size_t(w);
        }
        return true;
    }
    bool fill() {
        char tmp[65536];
        const ssize_t r = recv(fd_, tmp, sizeof tmp, 0);
        if (r <= 0) return false;
        buf_.append(tmp, size_t(r));
        return true;
    }
    bool readAnswer(int& status, std::string& body) {
        size_t end;
        while ((end = buf_.find("\r\n\r\n")) == std::string::npos) {
            if (!fill()) return false;
        }
        status = std::atoi(buf_.c_str() + 9);
        const size_t cl = buf_.find("Content-Length: ");
        const size_t length = cl < end ? size_t(std::atoll(buf_.c_str() + cl + 16)) : 0;
        const bool closing = buf_.find("Connection: close") < end;
        while (buf_.size() < end + 4 + length) {
            if (!fill()) return false;
        }
        body.assign(buf_, end + 4, length);
        buf_.erase(0, end + 4 + length);
        if (closing) drop();
        return true;
    }

    int port_;
    int fd_ = -1;
    bool fresh_ = false;
    std::string buf_;
};

std::string basic(const QString& user) {
    return "Basic " + (user + QStringLiteral(":") + QString::fromLatin1(kPassword)).toUtf8().toBase64().toStdString();
}

// --- load ---------------------------------------------------------------------------

struct LoadResult {
    double perSecond = 0;
    long failed = 0;
    double p95Ms = 0;
};

enum class Work { Status, Upload };

LoadResult load(int port, Work work, int clients, double seconds, std::atomic<int>& uploadCursor) {
    std::atomic<bool> go{false}, stop{false};
    std::atomic<long> ok{0}, failed{0};
    std::vector<std::vector<float>> latencies(static_cast<size_t>(clients));
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&, i] {
            Connection c(port);
            std::mt19937 rng(unsigned(i * 7919 + 17));
            int purchase = -1, next = 0;
            std::string reply;
            while (!go) std::this_thread::yield();
            while (!stop) {
                QString user, text;
                if (work == Work::Status) {
                    const int g = smallPurchase(int(rng() % kSmallPurchases));
                    user = ownerOf(g);
                    text = statusText(codeOf(g), number(firstOf(g) + int(rng() % kRangeSize)));
                } else {
                    if (purchase < 0 || next >= kRangeSize - 10) {
                        purchase = smallPurchase(uploadCursor.fetch_add(1));
                        next = kIssuedPerRange; // the first free number of the range
                    }
                    user = ownerOf(purchase);
                    text = uploadText(codeOf(purchase), number(firstOf(purchase) + next++), user);
                }
                const auto t0 = Clock::now();
                const bool answered = c.post(basic(user), text.toUtf8().toStdString(), reply);
                const auto t1 = Clock::now();
                if (answered && reply.compare(0, 5, "ok|@|") == 0) {
                    ++ok;
                    latencies[size_t(i)].push_back(std::chrono::duration<float, std::milli>(t1 - t0).count());
                } else {
                    if (failed++ < 3) std::cerr << "failed: " << reply.substr(0, 200) << "\n";
                }
            }
        });
    }
    const auto start = Clock::now();
    go = true;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    for (std::thread& t : threads) t.join();
    std::vector<float> all;
    for (const auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    LoadResult r;
    r.perSecond = double(ok) / elapsed;
    r.failed = failed;
    r.p95Ms = all.empty() ? 0 : all[size_t(double(all.size() - 1) * 0.95)];
    return r;
}

// --- the same statements, bare ---------------------------------------------------------

struct Bare {
    QSqlDatabase db;
    QSqlQuery invoice, purchase, returned, kind, delLines, delInvoice, insInvoice, insLine, lastUsed, begin, commit;

    explicit Bare(const QString& path) {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench_bare"));
        db.setDatabaseName(path);
        db.open();
        const Exec exec{db};
        exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        exec(QStringLiteral("PRAGMA synchronous=FULL"));
        const auto prep = [&](QSqlQuery& q, const QString& sql) {
            q = QSqlQuery(db);
            q.setForwardOnly(true);
            if (!q.prepare(sql)) throw std::runtime_error(q.lastError().text().toStdString());
        };
        prep(invoice, QStringLiteral("SELECT sxh, fpzt FROM invoice WHERE fpdm = ? AND fphm = ?"));
        prep(purchase, QStringLiteral("SELECT lglsh, swjgdm, sxh, fpzlbm, fpdm, fpqh, fpzh, bjbz, fsrq FROM purchase"
                                      " WHERE fpdm = ? AND fpqh <= ? ORDER BY fpqh DESC LIMIT 1"));
        prep(returned,
             QStringLiteral("SELECT 1 FROM stock_return WHERE lglsh = ? AND tpqh <= ? AND tpzh >= ? LIMIT 1"));
        prep(kind, QStringLiteral("SELECT fpzlbm FROM invoice_code WHERE fpdm = ?"));
        prep(delLines, QStringLiteral("DELETE FROM invoice_line WHERE inv_fpdm = ? AND inv_fphm = ?"));
        prep(delInvoice, QStringLiteral("DELETE FROM invoice WHERE fpdm = ? AND fphm = ?"));
        const QStringList& hc = taxsim::StoredInvoice::headerColumns();
        const QStringList& lc = taxsim::StoredInvoice::lineColumns();
        QStringList hm, lm;
        for (int i = 0; i < hc.size() + 2; ++i) hm.append(QStringLiteral("?"));
        for (int i = 0; i < lc.size() + 3; ++i) lm.append(QStringLiteral("?"));
        prep(insInvoice, QStringLiteral("INSERT INTO invoice (") + hc.join(QStringLiteral(", ")) +
                             QStringLiteral(", layout, raw_upload) VALUES (") + hm.join(QStringLiteral(", ")) +
                             QStringLiteral(")"));
        prep(insLine, QStringLiteral("INSERT INTO invoice_line (inv_fpdm, inv_fphm, line_no, ") +
                          lc.join(QStringLiteral(", ")) + QStringLiteral(") VALUES (") + lm.join(QStringLiteral(", ")) +
                          QStringLiteral(")"));
        prep(lastUsed,
             QStringLiteral("UPDATE purchase SET zjsyh = coalesce((SELECT i.fphm FROM invoice i"
                            " WHERE i.fpdm = purchase.fpdm AND i.fphm >= purchase.fpqh AND i.fphm <= purchase.fpzh"
                            " AND i.fpzt IN ('1', '2', '3') ORDER BY i.fphm DESC LIMIT 1), '') WHERE lglsh = ?"));
        prep(begin, QStringLiteral("BEGIN"));
        prep(commit, QStringLiteral("COMMIT"));
    }
    ~Bare() {
        for (QSqlQuery* q : {&invoice, &purchase, &returned, &kind, &delLines, &delInvoice, &insInvoice, &insLine,
                             &lastUsed, &begin, &commit})
            *q = QSqlQuery();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("bench_bare"));
    }

    static void run(QSqlQuery& q, const QVariantList& binds) {
        for (int i = 0; i < binds.size(); ++i) q.bindValue(i, binds.at(i));
        if (!q.exec()) throw std::runtime_error(q.lastError().text().toStdString());
        while (q.next()) {}
    }

    // What a status request reads.
    // Returns the purchase holding the number.
    QString status(const QString& fpdm, const QString& fphm) {
        QString lglsh;
        run(invoice, {fpdm, fphm});
        purchase.bindValue(0, fpdm);
        purchase.bindValue(1, fphm);
        if (!purchase.exec()) throw std::runtime_error(purchase.lastError().text().toStdString());
        if (purchase.next() && purchase.value(6).toString() >= fphm) {
            lglsh = purchase.value(0).toString();
            purchase.finish();
            run(returned, {lglsh, fphm, fphm});
        }
        purchase.finish();
        return lglsh;
    }

    // What an upload reads and writes.
    void upload(const QString& fpdm, const QString& fphm, const QString& sxh) {
        const QString lglsh = status(fpdm, fphm);
        run(kind, {fpdm});
        run(begin, {});
        run(delLines, {fpdm, fphm});
        run(delInvoice, {fpdm, fphm});
        QVariantList h;
        for (int i = 0; i < taxsim::StoredInvoice::headerColumns().size(); ++i)
            h.append(i == 0 ? fpdm : i == 1 ? fphm : i == 4 ? sxh : QStringLiteral("x"));
        h.append(QStringLiteral("integrated"));
        h.append(uploadText(fpdm, fphm, sxh));
        run(insInvoice, h);
        QVariantList l{fpdm, fphm, 1};
        for (int i = 0; i < taxsim::StoredInvoice::lineColumns().size(); ++i) l.append(QStringLiteral("1.00"));
        run(insLine, l);
        status(fpdm, fphm);
        run(lastUsed, {lglsh});
        run(commit, {});
    }
};

double bareRate(Bare& bare, Work work, double seconds, std::atomic<int>& uploadCursor) {
    std::mt19937 rng(4242);
    long n = 0;
    int purchase = -1, next = 0;
    const auto start = Clock::now();
    const auto until = start + std::chrono::duration<double>(seconds);
    while (Clock::now() < until) {
        for (int k = 0; k < 20; ++k, ++n) {
            if (work == Work::Status) {
                const int g = smallPurchase(int(rng() % kSmallPurchases));
                bare.status(codeOf(g), number(firstOf(g) + int(rng() % kRangeSize)));
            } else {
                if (purchase < 0 || next >= kRangeSize - 10) {
                    purchase = smallPurchase(uploadCursor.fetch_add(1));
                    next = kIssuedPerRange;
                }
                bare.upload(codeOf(purchase), number(firstOf(purchase) + next++), ownerOf(purchase));
            }
        }
    }
    return double(n) / std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    double seconds = 2.0;
    std::vector<int> clientCounts{1, 50, 200};
    bool rebuild = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--seconds") && i + 1 < args.size()) {
            seconds = args[++i].toDouble();
        } else if (args[i] == QLatin1String("--clients") && i + 1 < args.size()) {
            clientCounts.clear();
            for (const QString& n : args[++i].split(QLatin1Char(','))) clientCounts.push_back(n.toInt());
        } else if (args[i] == QLatin1String("--rebuild")) {
            rebuild = true;
        } else {
            std::cerr << "usage: taxsim_bench [--seconds S] [--clients 1,50,200] [--rebuild]\n";
            return 2;
        }
    }

    const QString work = preparedStore(rebuild);
    std::atomic<int> uploadCursor{0};
    bool passed = true;
    {
        auto service = std::make_shared<taxsim::Service>(work);
        if (!service->isOpen()) {
            std::cerr << service->lastError().toStdString() << "\n";
            return 1;
        }
        taxsim::HttpServer server(service);
        if (!server.start(0)) {
            std::cerr << server.error().toStdString() << "\n";
            return 1;
        }
        std::cout << "store: " << kCodes * kRangesPerCode << " purchases, " << service->invoiceCount() << " invoices; "
                  << seconds << " s per figure\n";

        // Bare statements on their own connection to the same store.
        double bareStatus = 0, bareUpload = 0;
        {
            Bare bare(work);
            bareStatus = bareRate(bare, Work::Status, seconds, uploadCursor);
            bareUpload = bareRate(bare, Work::Upload, seconds, uploadCursor);
        }
        std::printf("%-8s %8s %12s %12s %8s %8s %10s\n", "request", "clients", "served/s", "bare/s", "ratio", "failed",
                    "p95 ms");
        for (Work w : {Work::Status, Work::Upload}) {
            const double bare = w == Work::Status ? bareStatus : bareUpload;
            for (int clients : clientCounts) {
                const LoadResult r = load(server.port(), w, clients, seconds, uploadCursor);
                std::printf("%-8s %8d %12.0f %12.0f %8.2f %8ld %10.1f\n", w == Work::Status ? "status" : "upload",
                            clients, r.perSecond, bare, r.perSecond / bare, r.failed, r.p95Ms);
                if (clients == clientCounts.back() && r.failed != 0) passed = false;
            }
        }

        std::printf("write-ahead log: %.1f MB\n", double(QFileInfo(work + QStringLiteral("-wal")).size()) / 1e6);
        // The stock text of the taxpayer with 20,000 purchases and 2,000 returns.
        Connection c(server.port());
        std::vector<double> times;
        std::string reply;
        // CPU time too: on a machine shared with other work the wall time
        // says more about the neighbours than about the service.
        const auto cpuNow = [] {
            timespec ts{};
            clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
            return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
        };
        const double cpu0 = cpuNow();
        for (int i = 0; i < 7; ++i) {
            const auto t0 = Clock::now();
            if (!c.post(basic(bigTaxpayer()), "proc_id:90002", reply)) {
                std::cerr << "stock text request failed\n";
                passed = false;
                break;
            }
            times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        const double cpuPerRequest = (cpuNow() - cpu0) / 7;
        std::sort(times.begin(), times.end());
        const size_t records = size_t(std::count(reply.begin(), reply.end(), '&')) + (reply.size() > 5 ? 1 : 0);
        const double median = times.empty() ? 0 : times[times.size() / 2];
        std::printf("stock text: %zu records (%zu bytes), median %.1f ms, slowest %.1f ms, CPU %.1f ms per request\n",
                    records, reply.size(), median, times.empty() ? 0 : times.back(), cpuPerRequest);
        if (median >= 100) passed = false;
        server.stop();
    }
    for (const QString& f : QStringList{work, work + QStringLiteral("-wal"), work + QStringLiteral("-shm")})
        QFile::remove(f);
    std::cout << (passed ? "PASS" : "FAIL") << "\n";
    return passed ? 0 : 1;
}
