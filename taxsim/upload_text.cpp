#include "taxsim/upload_text.h"

#include "taxsim/request_text.h"

namespace taxsim {

namespace {

// Header and line layouts of the real-estate and building forms.
const QStringList& buildingHeaderColumns() {
    static const QStringList cols = {
        QStringLiteral("fpdm"),    QStringLiteral("fphm"),  QStringLiteral("fpzlbm"),  QStringLiteral("swjgdm"),
        QStringLiteral("sxh"),     QStringLiteral("fpzt"),  QStringLiteral("fkfmc"),   QStringLiteral("fkfzjlx"),
        QStringLiteral("fkfzjhm"), QStringLiteral("zbrbz"), QStringLiteral("skfmc"),   QStringLiteral("skfzjlx"),
        QStringLiteral("skfzjhm"), QStringLiteral("fbrbz"), QStringLiteral("hjje"),    QStringLiteral("hjdx"),
        QStringLiteral("bz"),      QStringLiteral("kpr"),   QStringLiteral("bcrq"),    QStringLiteral("kprq"),
        QStringLiteral("drcs"),    QStringLiteral("mjlx"),  QStringLiteral("skflxdh"),
    };
    return cols;
}

const QStringList& buildingLineColumns() {
    static const QStringList cols = {
        QStringLiteral("fpdm"), QStringLiteral("fphm"),   QStringLiteral("xmmc"),  QStringLiteral("xmbh"),
        QStringLiteral("jsxm"), QStringLiteral("bdclph"), QStringLiteral("mj"),    QStringLiteral("dj"),
        QStringLiteral("kxxz"), QStringLiteral("je"),     QStringLiteral("wspzh"), QStringLiteral("iserial"),
    };
    return cols;
}

// Every field must come out of the split whole: one that begins or ends with
// part of a separator is what is left when a value carried that part.
QString shiftedField(const QString& field) {
    const QString fragment = separatorFragment(field);
    if (fragment.isEmpty()) return QString();
    return QStringLiteral("发票数据格式有误：数据项“") + field + QStringLiteral("”以分隔符的一部分“") + fragment +
           QStringLiteral("”开头或结尾，各项数据无法正确分隔！");
}

UploadText refused(const QString& why) {
    UploadText u;
    u.error = why;
    return u;
}

} // namespace

UploadText parseUploadData(const QString& data) {
    const QString headerSep = QString::fromLatin1(kHeaderSep);
    const QString fieldSep = QString::fromLatin1(kFieldSep);
    const QString lineSep = QString::fromLatin1(kLineSep);

    const QStringList pieces = data.split(headerSep);
    const int headerCount = int(pieces.size()) - 1;
    for (int i = 0; i < headerCount; ++i) {
        const QString why = shiftedField(pieces.at(i));
        if (!why.isEmpty()) return refused(why);
    }
    UploadText out;
    out.integrated = headerCount == StoredInvoice::headerColumns().size();
    const bool building = headerCount == buildingHeaderColumns().size();
    if (!out.integrated && !building)
        return refused(QStringLiteral("发票数据格式有误：发票头有") + QString::number(std::max(headerCount, 0)) +
                       QStringLiteral("项数据！"));
    const QStringList& headerLayout = out.integrated ? StoredInvoice::headerColumns() : buildingHeaderColumns();
    const QStringList& lineLayout = out.integrated ? StoredInvoice::lineColumns() : buildingLineColumns();

    StoredInvoice& inv = out.invoice;
    inv = StoredInvoice::create(QString(), QString());
    for (int i = 0; i < headerCount; ++i) {
        const QString& piece = pieces.at(i);
        for (const QString& sep : {fieldSep, lineSep}) {
            if (piece.contains(sep))
                return refused(QStringLiteral("发票数据格式有误：发票头数据项“") + piece +
                               QStringLiteral("”中有分隔符“") + sep + QStringLiteral("”！"));
        }
        inv.setValue(headerLayout.at(i), unescapeValue(piece));
    }
    const QStringList rows = splitTerminated(pieces.last(), lineSep);
    for (int r = 0; r < rows.size(); ++r) {
        const QStringList fields = splitTerminated(rows.at(r), fieldSep);
        for (const QString& field : fields) {
            const QString why = shiftedField(field);
            if (!why.isEmpty()) return refused(why);
        }
        if (fields.size() != lineLayout.size())
            return refused(QStringLiteral("发票数据格式有误：第") + QString::number(r + 1) +
                           QStringLiteral("行品目有") + QString::number(fields.size()) + QStringLiteral("项数据！"));
        const int n = inv.addLine();
        for (int i = 0; i < fields.size(); ++i) inv.setLineValue(n, lineLayout.at(i), unescapeValue(fields.at(i)));
    }
    if (inv.lines.empty()) return refused(QStringLiteral("发票数据格式有误：没有品目明细！"));

    const QString fpdm = inv.value(QStringLiteral("fpdm"));
    const QString fphm = inv.value(QStringLiteral("fphm"));
    if (fpdm.isEmpty() || fphm.isEmpty()) return refused(QStringLiteral("发票数据格式有误：没有发票代码或发票号码！"));
    if (!isInvoiceNumber(fphm))
        return refused(QStringLiteral("发票号码必须是8位数字：“") + fphm + QStringLiteral("”！"));
    return out;
}

} // namespace taxsim
