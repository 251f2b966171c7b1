#include "services/table_export.h"

#include "data_model/decimal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScopeGuard>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xlsxwriter.h>

namespace fp {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

QString cellAt(const QStringList& row, qsizetype column) { return column < row.size() ? row.at(column) : QString(); }

// An amount cell's value, or nothing when the text is not a number.
std::optional<Decimal> amountOf(const QString& text) {
    if (text.trimmed().isEmpty()) return std::nullopt;
    return Decimal::parse(text);
}

// A count cell's value, or nothing when the text is not a whole number.
std::optional<qint64> countOf(const QString& text) {
    bool ok = false;
    const qint64 v = text.trimmed().toLongLong(&ok);
    if (!ok) return std::nullopt;
    return v;
}

bool isNumberCell(ReportColumn::Type type, const QString& text) {
    switch (type) {
    case ReportColumn::Type::Amount: return amountOf(text).has_value();
    case ReportColumn::Type::Count: return countOf(text).has_value();
    case ReportColumn::Type::Text: return false;
    }
    return false;
}

// ---------------------------------------------------------------- CSV

// A spreadsheet opening the file reads a field beginning with one of these as
// a formula (a tab or carriage return before one, too).
bool startsLikeFormula(const QString& text) {
    if (text.isEmpty()) return false;
    switch (text.front().unicode()) {
    case u'=':
    case u'+':
    case u'-':
    case u'@':
    case u'\t':
    case u'\r': return true;
    default: return false;
    }
}

QString csvField(const QString& text) {
    const bool quote = text.contains(u',') || text.contains(u'"') || text.contains(u'\r') || text.contains(u'\n');
    if (!quote) return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// ---------------------------------------------------------------- JSON

void appendJsonString(QString& out, const QString& text) {
    out += u'"';
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'"': out += QLatin1String("\\\""); break;
        case u'\\': out += QLatin1String("\\\\"); break;
        case u'\b': out += QLatin1String("\\b"); break;
        case u'\f': out += QLatin1String("\\f"); break;
        case u'\n': out += QLatin1String("\\n"); break;
        case u'\r': out += QLatin1String("\\r"); break;
        case u'\t': out += QLatin1String("\\t"); break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += u'"';
}

QString jsonString(const QString& text) {
    QString out;
    appendJsonString(out, text);
    return out;
}

QString jsonCell(ReportColumn::Type type, const QString& text) {
    if (text.isEmpty()) return QStringLiteral("null");
    if (type == ReportColumn::Type::Count) {
        if (const std::optional<qint64> v = countOf(text)) return QString::number(*v);
    }
    // Amounts stay text: "-12.30" read back is "-12.30", never a rounded binary number.
    return jsonString(text);
}

QLatin1String typeName(ReportColumn::Type type) {
    switch (type) {
    case ReportColumn::Type::Amount: return QLatin1String("amount");
    case ReportColumn::Type::Count: return QLatin1String("count");
    case ReportColumn::Type::Text: return QLatin1String("text");
    }
    return QLatin1String("text");
}

// `items` one a line, indented, as the value of a member.
QString jsonArray(const QStringList& items, const QString& indent) {
    if (items.isEmpty()) return QStringLiteral("[]");
    QString out = QStringLiteral("[\n");
    for (qsizetype i = 0; i < items.size(); ++i) {
        out += indent + QLatin1String("  ") + items.at(i);
        out += i + 1 < items.size() ? QLatin1String(",\n") : QLatin1String("\n");
    }
    return out + indent + QLatin1Char(']');
}

// ---------------------------------------------------------------- files

QString failure(const QString& file, const QString& reason) {
    return QStringLiteral("导出文件写入失败：") + QDir::toNativeSeparators(file) + kCrLf + reason;
}

// What a failed system call on the file means to the clerk.
QString systemReason(int code) {
    switch (code) {
    case ENOENT: return QStringLiteral("目录不存在");
    case EACCES:
    case EPERM: return QStringLiteral("没有写入权限");
    case EROFS: return QStringLiteral("文件系统只读，不能写入");
    case ENOSPC:
    case EDQUOT: return QStringLiteral("磁盘空间不足");
    case EISDIR: return QStringLiteral("这是一个目录，不是文件");
    default: return qt_error_string(code);
    }
}

// The same for an error Qt reports only as text (QSaveFile keeps no errno).
QString systemReason(const QString& qtText) {
    for (const int code : {ENOENT, EACCES, EPERM, EROFS, ENOSPC, EDQUOT, EISDIR})
        if (qtText == qt_error_string(code)) return systemReason(code);
    return qtText;
}

// What keeps `file` from being written before anything is tried; empty when
// nothing does.
QString obstacle(const QString& file) {
    if (file.isEmpty()) return QStringLiteral("未指定文件名");
    const QFileInfo info(file);
    if (info.isDir()) return systemReason(EISDIR);
    const QFileInfo dir(info.absolutePath());
    if (!dir.exists()) return QStringLiteral("目录不存在：") + QDir::toNativeSeparators(dir.filePath());
    if (!dir.isDir()) return QStringLiteral("不是目录：") + QDir::toNativeSeparators(dir.filePath());
    return QString();
}

bool writeWithSaveFile(const QByteArray& content, const QString& file, QString* error) {
    QSaveFile out(file);
    // Never write over the target in place when no temporary can be made beside it.
    out.setDirectWriteFallback(false);
    bool written = out.open(QIODevice::WriteOnly);
    // A full disk shows first as a short write, with no error; the write of
    // the rest fails and says why.
    for (qint64 done = 0; written && done < content.size();) {
        const qint64 n = out.write(content.constData() + done, content.size() - done);
        written = n > 0;
        done += n;
    }
    if (!written || !out.commit()) {
        if (error) *error = failure(file, systemReason(out.errorString()));
        return false; // an uncommitted QSaveFile removes its temporary
    }
    return true;
}

// Number formatting inside the XLSX library follows the C library's locale;
// a decimal comma there ("12,3") would make a broken file. The library's work
// is done with the "C" numeric convention on this thread.
class CNumericLocale {
public:
    CNumericLocale() {
        const locale_t base = duplocale(LC_GLOBAL_LOCALE);
        if (base == locale_t(0)) return;
        c_ = newlocale(LC_NUMERIC_MASK, "C", base);
        if (c_ == locale_t(0)) {
            freelocale(base);
            return;
        }
        previous_ = uselocale(c_);
    }
    ~CNumericLocale() {
        if (c_ == locale_t(0)) return;
        (void)uselocale(previous_); // returns the locale just left, which is freed next
        freelocale(c_);
    }
    CNumericLocale(const CNumericLocale&) = delete;
    CNumericLocale& operator=(const CNumericLocale&) = delete;

private:
    locale_t c_ = locale_t(0);
    locale_t previous_ = locale_t(0);
};

// A cell reference such as "C12" for a message.
QString cellName(lxw_row_t row, lxw_col_t col) {
    QString letters;
    for (unsigned n = col + 1; n > 0; n = (n - 1) / 26) letters.prepend(QChar(u'A' + (n - 1) % 26));
    return letters + QString::number(row + 1);
}

QString xlsxReason(lxw_error err, lxw_row_t row, lxw_col_t col) {
    switch (err) {
    case LXW_ERROR_MAX_STRING_LENGTH_EXCEEDED:
        return QStringLiteral("单元格 %1 的文字超过 32767 个字符").arg(cellName(row, col));
    case LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE:
        return QStringLiteral("超出工作表的范围（最多 %1 行、%2 列）").arg(LXW_ROW_MAX).arg(LXW_COL_MAX);
    default: return QStringLiteral("XLSX 写入错误：") + QString::fromUtf8(lxw_strerror(err));
    }
}

// Display width of a text in Excel's units: a wide (Chinese) character is two.
int displayWidth(const QString& text) {
    int width = 0;
    for (const char32_t c : text.toUcs4()) {
        const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                          (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                          (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                          (c >= 0xFFE0 && c <= 0xFFE6) || c >= 0x20000;
        width += wide ? 2 : 1;
    }
    return width;
}

// Fills a workbook whose file is `path`; the workbook is closed (and so freed)
// here. Empty on success, otherwise why not.
QString writeWorkbook(const ReportTable& table, const QString& path) {
    lxw_workbook_options options{};
    const QByteArray nativePath = QFile::encodeName(path);
    lxw_workbook* book = workbook_new_opt(nativePath.constData(), &options);
    if (!book) return xlsxReason(LXW_ERROR_MEMORY_MALLOC_FAILED, 0, 0);
    // Any failure before the close below frees the workbook without writing it.
    bool closed = false;
    auto discard = qScopeGuard([&] {
        if (!closed) lxw_workbook_free(book);
    });

    lxw_worksheet* sheet = workbook_add_worksheet(book, xlsxSheetName(table.title).toUtf8().constData());
    if (!sheet) return xlsxReason(LXW_ERROR_PARAMETER_VALIDATION, 0, 0);
    lxw_format* bold = workbook_add_format(book);
    lxw_format* amount = workbook_add_format(book);
    if (!bold || !amount) return xlsxReason(LXW_ERROR_MEMORY_MALLOC_FAILED, 0, 0);
    format_set_bold(bold);
    format_set_num_format(amount, "0.00");

    lxw_row_t row = 0;
    auto writeText = [&](lxw_col_t col, QString text, lxw_format* format) -> lxw_error {
        if (text.isEmpty()) return LXW_NO_ERROR;
        // A line break in a cell is a line feed; a reader of the XML would
        // turn a CR LF into one anyway, and a lone CR too.
        text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
        // "_x0041_" in a workbook's text stands for "A": the underscore that
        // begins such a piece of the clerk's text is itself written "_x005F_"
        // (each one, "_x0041_x0042_" holding two).
        static const QRegularExpression escapeLike(QStringLiteral("_(?=x[0-9A-Fa-f]{4}_)"));
        text.replace(escapeLike, QStringLiteral("_x005F_"));
        return worksheet_write_string(sheet, row, col, text.toUtf8().constData(), format);
    };
    auto checked = [&](lxw_error err, lxw_col_t col) {
        return err == LXW_NO_ERROR ? QString() : xlsxReason(err, row, col);
    };
    auto writeLines = [&](const QStringList& lines) {
        for (const QString& line : lines) {
            const QString why = checked(writeText(0, line, nullptr), 0);
            if (!why.isEmpty()) return why;
            ++row;
        }
        return QString();
    };

    QString why = writeLines(table.headingLines);
    if (!why.isEmpty()) return why;
    const qsizetype columns = table.columns.size();
    for (qsizetype c = 0; c < columns; ++c) {
        const ReportColumn& column = table.columns.at(c);
        const auto col = lxw_col_t(c);
        why = checked(writeText(col, column.title, bold), col);
        if (!why.isEmpty()) return why;
        const int width = qMax(2 * qMax(column.width, 0), displayWidth(column.title));
        why = checked(worksheet_set_column(sheet, col, col, width, nullptr), col);
        if (!why.isEmpty()) return why;
    }
    ++row;
    worksheet_freeze_panes(sheet, row, 0);

    for (const QStringList& cells : table.rows) {
        for (qsizetype c = 0; c < columns; ++c) {
            const QString text = cellAt(cells, c);
            const auto col = lxw_col_t(c);
            lxw_error err = LXW_NO_ERROR;
            if (text.isEmpty()) continue;
            switch (table.columns.at(c).type) {
            case ReportColumn::Type::Amount:
                if (const std::optional<Decimal> v = amountOf(text)) {
                    // The double nearest the exact decimal ("-12.30" is -12.3), shown with two places.
                    const double value = v->isZero() ? 0.0 : v->toPlainString().toDouble();
                    err = worksheet_write_number(sheet, row, col, value, amount);
                } else {
                    err = writeText(col, text, nullptr);
                }
                break;
            case ReportColumn::Type::Count:
                if (const std::optional<qint64> v = countOf(text))
                    err = worksheet_write_number(sheet, row, col, double(*v), nullptr);
                else
                    err = writeText(col, text, nullptr);
                break;
            case ReportColumn::Type::Text: err = writeText(col, text, nullptr); break;
            }
            why = checked(err, col);
            if (!why.isEmpty()) return why;
        }
        ++row;
    }
    why = writeLines(table.totalsLines);
    if (!why.isEmpty()) return why;

    errno = 0;
    closed = true; // the close frees the workbook whatever it returns
    const lxw_error err = workbook_close(book);
    if (err == LXW_NO_ERROR) return QString();
    if (errno == ENOSPC || errno == EDQUOT) return systemReason(errno);
    return xlsxReason(err, 0, 0);
}

// Creates an empty file beside `target` that no one else has (mode as a new
// file gets, or the target's when it exists). Its path, or empty with `why`.
QString createTemporary(const QString& target, QString* why) {
    struct stat existing {};
    const QByteArray nativeTarget = QFile::encodeName(target);
    const bool keepMode = ::stat(nativeTarget.constData(), &existing) == 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString path = target + QLatin1Char('.') + QString::number(QRandomGenerator::global()->generate(), 36) +
                             QLatin1String(".tmp");
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            *why = systemReason(errno);
            return QString();
        }
        if (keepMode) (void)::fchmod(fd, existing.st_mode & 07777); // a mode not kept is no reason to fail
        (void)::close(fd);                                          // nothing was written through it
        return path;
    }
    *why = systemReason(EEXIST);
    return QString();
}

bool writeXlsx(const ReportTable& table, const QString& file, QString* error) {
    // Like QSaveFile: a link is followed, and the file it names is replaced.
    const QFileInfo info(file);
    const QString target = info.isSymLink() ? info.symLinkTarget() : info.absoluteFilePath();
    QString why;
    const QString temporary = createTemporary(target, &why);
    if (temporary.isEmpty()) {
        if (error) *error = failure(file, why);
        return false;
    }
    const QByteArray nativeTemporary = QFile::encodeName(temporary);
    {
        const CNumericLocale numbers;
        why = writeWorkbook(table, temporary);
    }
    if (why.isEmpty()) {
        // Whole on the disk before it takes the target's place.
        const int fd = ::open(nativeTemporary.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::fsync(fd) != 0) why = systemReason(errno);
        if (fd >= 0) (void)::close(fd); // read only: closing loses nothing
    }
    if (why.isEmpty() && std::rename(nativeTemporary.constData(), QFile::encodeName(target).constData()) != 0)
        why = systemReason(errno);
    if (why.isEmpty()) return true;
    (void)::unlink(nativeTemporary.constData()); // the failure reported is the write's
    if (error) *error = failure(file, why);
    return false;
}

} // namespace

std::optional<ExportFormat> exportFormatFromName(const QString& name) {
    if (name == QLatin1String("xlsx")) return ExportFormat::Xlsx;
    if (name == QLatin1String("csv")) return ExportFormat::Csv;
    if (name == QLatin1String("json")) return ExportFormat::Json;
    return std::nullopt;
}

QString exportFormatName(ExportFormat format) {
    switch (format) {
    case ExportFormat::Xlsx: return QStringLiteral("xlsx");
    case ExportFormat::Csv: return QStringLiteral("csv");
    case ExportFormat::Json: return QStringLiteral("json");
    }
    return QString();
}

QString xlsxSheetName(const QString& title) {
    QString name;
    for (const QChar c : title) {
        if (c.unicode() < 0x20) continue;
        name += QStringLiteral(":\\/?*[]").contains(c) ? QChar(u'_') : c;
    }
    name = name.trimmed();
    auto trimApostrophes = [&] {
        while (name.startsWith(u'\'')) name.remove(0, 1);
        while (name.endsWith(u'\'')) name.chop(1);
    };
    trimApostrophes();
    constexpr qsizetype kMax = 31;
    if (name.size() > kMax) {
        // Excel counts UTF-16 units; a pair is never cut in two.
        name.truncate(name.at(kMax - 1).isHighSurrogate() ? kMax - 1 : kMax);
        trimApostrophes();
        name = name.trimmed();
    }
    if (name.isEmpty()) return QStringLiteral("Sheet1");
    // Reserved by Excel for its change history.
    if (name.compare(QLatin1String("History"), Qt::CaseInsensitive) == 0) name += QLatin1Char('_');
    return name;
}

QByteArray csvReport(const ReportTable& table) {
    QString text;
    const qsizetype columns = table.columns.size();
    for (qsizetype c = 0; c < columns; ++c) {
        if (c > 0) text += u',';
        text += csvField(table.columns.at(c).title);
    }
    text += kCrLf;
    for (const QStringList& cells : table.rows) {
        for (qsizetype c = 0; c < columns; ++c) {
            if (c > 0) text += u',';
            QString cell = cellAt(cells, c);
            // A number ("-12.30") is left as it is; anything else that a
            // spreadsheet would run as a formula is made plain text.
            if (!isNumberCell(table.columns.at(c).type, cell) && startsLikeFormula(cell)) cell.prepend(u'\'');
            text += csvField(cell);
        }
        text += kCrLf;
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

QByteArray jsonReport(const ReportTable& table) {
    const QString indent = QStringLiteral("  ");
    QStringList heading;
    for (const QString& line : table.headingLines) heading << jsonString(line);
    QStringList columns;
    for (const ReportColumn& column : table.columns)
        columns << QStringLiteral("{\"title\": ") + jsonString(column.title) + QStringLiteral(", \"type\": \"") +
                       typeName(column.type) + QStringLiteral("\"}");
    QStringList rows;
    for (const QStringList& cells : table.rows) {
        QStringList values;
        for (qsizetype c = 0; c < table.columns.size(); ++c)
            values << jsonCell(table.columns.at(c).type, cellAt(cells, c));
        rows << QLatin1Char('[') + values.join(QLatin1String(", ")) + QLatin1Char(']');
    }
    QStringList totals;
    for (const QString& line : table.totalsLines) totals << jsonString(line);

    QString out = QStringLiteral("{\n");
    out += indent + QStringLiteral("\"title\": ") + jsonString(table.title) + QStringLiteral(",\n");
    out += indent + QStringLiteral("\"heading\": ") + jsonArray(heading, indent) + QStringLiteral(",\n");
    out += indent + QStringLiteral("\"columns\": ") + jsonArray(columns, indent) + QStringLiteral(",\n");
    out += indent + QStringLiteral("\"rows\": ") + jsonArray(rows, indent) + QStringLiteral(",\n");
    out += indent + QStringLiteral("\"totals\": ") + jsonArray(totals, indent) + QStringLiteral("\n}\n");
    return out.toUtf8();
}

bool exportReport(const ReportTable& table, ExportFormat format, const QString& file, QString* error) {
    if (const QString why = obstacle(file); !why.isEmpty()) {
        if (error) *error = failure(file, why);
        return false;
    }
    switch (format) {
    case ExportFormat::Xlsx: return writeXlsx(table, file, error);
    case ExportFormat::Csv: return writeWithSaveFile(csvReport(table), file, error);
    case ExportFormat::Json: return writeWithSaveFile(jsonReport(table), file, error);
    }
    return false;
}

} // namespace fp
