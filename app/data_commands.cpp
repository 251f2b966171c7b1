#include "app/data_commands.h"

#include "services/invoice_fetch.h"
#include "services/pending_uploads.h"
#include "services/remote_text.h"
#include "services/stock_codes.h"

#include "host/text_decoding.h"

#include <QFile>

#ifdef _WIN32
#include <io.h>
#define FP_ISATTY _isatty
#define FP_FILENO _fileno
#else
#include <unistd.h>
#define FP_ISATTY isatty
#define FP_FILENO fileno
#endif

namespace fp::cli {

namespace {

// Procedures of the host application at the tax service.
constexpr int kProcStock = 90002;
constexpr int kProcCodes = 90003;
// Time-out value of the stock and code requests (the module's units).
constexpr int kTimeoutHostData = 500;

void writeLine(std::FILE* f, QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f);
    std::fputc('\n', f);
    std::fflush(f);
}

bool readText(HostServices& host, const QString& path, QString& text) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        host.mess(QStringLiteral("无法读取文件“") + path + QStringLiteral("”：") + file.errorString());
        return false;
    }
    // Stock and code files are UTF-8 text; anything else is refused, not guessed at.
    const DecodedText decoded = decodeExternalText(file.read(kMaxExternalTextBytes + 1));
    if (!decoded.ok) {
        host.mess(QStringLiteral("文件“") + path + QStringLiteral("”") + decoded.problem +
                  QStringLiteral("，不能使用！"));
        return false;
    }
    text = decoded.text;
    if (text.endsWith(QLatin1String("\r\n")))
        text.chop(2);
    else if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    if (text.isNull()) text = QStringLiteral(""); // an empty file is an empty text, not a null one
    return true;
}

int status(bool done) { return done ? 0 : 1; }

// The answer of a host procedure without "ok|@|"; false when the exchange failed.
bool fetchText(HostServices& host, int procId, QString& text) {
    QString reply;
    const QString request = QStringLiteral("proc_id:") + QString::number(procId) + QStringLiteral("\r\n");
    if (!host.f_send_remote_msg(kRemoteEndpoint, request, kTimeoutHostData, reply)) return false;
    text = reply_body(reply);
    return true;
}

} // namespace

bool isTerminal(std::FILE* f) { return FP_ISATTY(FP_FILENO(f)) != 0; }

ConsoleDialogs::ConsoleDialogs(Preset preset) : ConsoleDialogs(preset, stdin, stderr, isTerminal(stdin)) {}

ConsoleDialogs::ConsoleDialogs(Preset preset, std::FILE* in, std::FILE* err, bool interactive)
    : preset_(preset), in_(in), err_(err), interactive_(interactive) {}

void ConsoleDialogs::message(const QString& text) { writeLine(err_, text); }

int ConsoleDialogs::question(const QString& text) {
    // An answer nobody typed is shown with the question, so that a command it
    // stops does not end without a word.
    const auto answered = [&](bool yes, const QString& why) {
        writeLine(err_, text + QStringLiteral(" (y/n) ") + QLatin1String(yes ? "y" : "n") + QStringLiteral("（") + why +
                            QStringLiteral("）"));
        return yes ? 1 : 2;
    };
    // (--yes / --no, or an unattended run)
    if (preset_ == Preset::Yes) return answered(true, QStringLiteral("预设回答"));
    if (preset_ == Preset::No) return answered(false, QStringLiteral("预设回答"));
    if (!interactive_ || !in_) return answered(false, QStringLiteral("没有终端可以询问，按“否”回答"));
    for (;;) {
        const QByteArray prompt = (text + QStringLiteral(" (y/n) ")).toUtf8();
        std::fwrite(prompt.constData(), 1, size_t(prompt.size()), err_);
        std::fflush(err_);
        char buf[256];
        if (!std::fgets(buf, sizeof buf, in_)) {
            std::fputc('\n', err_);
            return 2;
        }
        const QString a = QString::fromUtf8(buf).trimmed().toLower();
        if (a == QLatin1String("y") || a == QLatin1String("yes") || a == QStringLiteral("是")) return 1;
        if (a == QLatin1String("n") || a == QLatin1String("no") || a == QStringLiteral("否")) return 2;
    }
}

QString ConsoleDialogs::treeSelect(const TreeSelectRequest&) { return QString(); }

int stockImport(HostServices& host, const QString& file) {
    QString text;
    if (!readText(host, file, text)) return 2;
    return status(gf_save_fplgqk(host, text));
}

int codesImport(HostServices& host, const QString& file) {
    QString text;
    if (!readText(host, file, text)) return 2;
    return status(gf_save_fpzldm(host, text));
}

int fetchInvoice(HostServices& host, const QString& code, const QString& number) {
    return status(gf_get_fp_from_remote(host, code, number));
}

int reconcilePendingUploads(HostServices& host) { return status(gf_reconcile_pending_uploads(host).kept == 0); }

int fetchStock(HostServices& host) {
    QString text;
    if (!fetchText(host, kProcStock, text)) return 1;
    return status(gf_save_fplgqk(host, text));
}

int fetchCodes(HostServices& host) {
    QString text;
    if (!fetchText(host, kProcCodes, text)) return 1;
    return status(gf_save_fpzldm(host, text));
}

} // namespace fp::cli
