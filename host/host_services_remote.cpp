// HostServices::f_send_remote_msg: one exchange with the tax service.
#include "host/host_services.h"

#include "host/text_decoding.h"

#include <algorithm>
#include <climits>

namespace fp {

namespace {

const QString kOkPrefix = QStringLiteral("ok|@|");
const QString kErrPrefix = QStringLiteral("err|@|");

// 20000 -> "20", 200 -> "0.2", 1500 -> "1.5".
QString seconds(qint64 ms) {
    QString text =
        QString::number(ms / 1000) + QLatin1Char('.') + QStringLiteral("%1").arg(ms % 1000, 3, 10, QLatin1Char('0'));
    while (text.endsWith(QLatin1Char('0'))) text.chop(1);
    if (text.endsWith(QLatin1Char('.'))) text.chop(1);
    return text;
}

// The text shown for a failed exchange.
QString failureText(const RemoteResult& r, qint64 timeoutMs) {
    switch (r.kind) {
    case RemoteResult::Kind::Ok: {
        QString text = r.body.trimmed();
        if (text.startsWith(kErrPrefix)) text = text.mid(kErrPrefix.size()).trimmed();
        if (text.isEmpty()) return QStringLiteral("税务服务器拒绝了请求，但没有说明原因！");
        return text;
    }
    case RemoteResult::Kind::ConnectFailed:
        return r.detail.isEmpty() ? QStringLiteral("无法连接税务服务器，请检查网络连接和服务器地址后再试！")
                                  : QStringLiteral("无法连接税务服务器：") + r.detail +
                                        QStringLiteral("\r\n请检查网络连接和服务器地址后再试！");
    case RemoteResult::Kind::TimedOut:
        return QStringLiteral("税务服务器在") + seconds(timeoutMs) + QStringLiteral("秒内没有应答，请稍后再试！");
    case RemoteResult::Kind::HttpError: {
        QString text =
            QStringLiteral("税务服务器返回错误（HTTP ") + QString::number(r.httpStatus) + QStringLiteral("）");
        const QString body = r.body.trimmed();
        if (!body.isEmpty())
            text += QStringLiteral("：") + (body.size() > 200 ? body.left(200) + QStringLiteral("…") : body);
        return text + QStringLiteral("\r\n请稍后再试！");
    }
    case RemoteResult::Kind::BadReply:
        return QStringLiteral("税务服务器的应答") + r.detail +
               QStringLiteral("，无法使用！\r\n请稍后再试，或与税务机关联系。");
    case RemoteResult::Kind::Dropped:
        return QStringLiteral("与税务服务器的连接意外中断，没有收到应答！\r\n"
                              "服务器可能已经受理了本次请求，请稍后核对发票在服务器上的状态。");
    }
    return QStringLiteral("与税务服务器通讯失败！");
}

} // namespace

void HostServices::logExchange(Exchange exchange) {
    if (exchanges_.size() == kExchangeLogSize) exchanges_.pop_front();
    exchanges_.push_back(std::move(exchange));
}

bool HostServices::f_send_remote_msg(const QString& url, const QString& request, int timeout, QString& reply) {
    return exchange(url, request, timeout, reply, false);
}

bool HostServices::sendRemoteMsgQuietly(const QString& url, const QString& request, int timeout, QString& reply) {
    return exchange(url, request, timeout, reply, true);
}

bool HostServices::exchange(const QString& url, const QString& request, int timeout, QString& reply, bool quiet) {
    lastOutcome_ = Outcome::Refused; // nothing sent unless the transport runs
    lastFailureText_.clear();
    auto failNow = [&](const QString& text) {
        lastFailureText_ = text;
        if (!quiet) mess(text);
        return false;
    };
    if (inExchange_) return failNow(QStringLiteral("正在与税务服务器通讯，请等待上一个请求完成后再试！"));
    Exchange record{url, request, timeout, false, QString()};
    if (!transport_) {
        logExchange(record);
        return failNow(QStringLiteral("没有配置税务服务器的连接，无法与税务服务器通讯！"));
    }

    const qint64 ms = std::clamp<qint64>(qint64(timeout) * timeoutUnitMs_, 1, INT_MAX);
    RemoteResult result;
    result.kind = RemoteResult::Kind::Dropped;
    result.detail = QStringLiteral("the exchange did not run");
    const std::shared_ptr<RemoteTransport> transport = transport_; // kept alive for the exchange
    const std::function<void()> work = [&] { result = transport->post(url, request, int(ms)); };
    {
        inExchange_ = true;
        struct Reset {
            bool& flag;
            ~Reset() { flag = false; }
        } reset{inExchange_};
        if (busy_)
            busy_(work);
        else
            work();
    }

    // Whatever the transport, a reply with a NUL or beyond the size limit is no text.
    if (result.kind == RemoteResult::Kind::Ok) {
        const DecodedText checked = checkExternalText(result.body);
        if (!checked.ok) {
            result.kind = RemoteResult::Kind::BadReply;
            result.detail = checked.problem;
            result.body.clear();
        }
    }
    record.reply = result.body;
    record.ok = result.kind == RemoteResult::Kind::Ok && result.body.startsWith(kOkPrefix);
    logExchange(record);
    if (!record.ok) {
        lastOutcome_ = result.kind == RemoteResult::Kind::Ok ? Outcome::Refused : Outcome::TransportFailed;
        return failNow(failureText(result, ms));
    }
    lastOutcome_ = Outcome::Accepted;
    reply = result.body;
    return true;
}

} // namespace fp
