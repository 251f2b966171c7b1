#include "services/table_export.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <clocale>
#include <gtest/gtest.h>
#include <unistd.h>

namespace fp {
namespace {

using Type = ReportColumn::Type;

// Chinese text, codes with leading zeros, negative and zero amounts, empty
// cells, a text with a comma, quotes and a line break, texts a spreadsheet
// would take for formulas.
ReportTable fixture() {
    ReportTable t;
    t.title = QStringLiteral("发票清单");
    t.headingLines = {QStringLiteral("纳税人：北京某某科技有限公司"), QStringLiteral("所属月份：2024-05")};
    t.columns = {
        {QStringLiteral("发票代码"), Type::Text, 6},    {QStringLiteral("发票号码"), Type::Text, 5},
        {QStringLiteral("付款方名称"), Type::Text, 12}, {QStringLiteral("金额"), Type::Amount, 6},
        {QStringLiteral("打印次数"), Type::Count, 2},   {QStringLiteral("备注"), Type::Text, 8},
    };
    t.rows = {
        {QStringLiteral("00012345"), QStringLiteral("00000001"), QStringLiteral("北京某某科技有限公司"),
         QStringLiteral("1234.50"), QStringLiteral("1"), QStringLiteral("-负数开头")},
        {QStringLiteral("00012345"), QStringLiteral("00000002"), QStringLiteral("某某, \"大\"公司\r\n二部"),
         QStringLiteral("-12.30"), QStringLiteral("0"), QString()},
        {QStringLiteral("00012345"), QStringLiteral("00000003"), QStringLiteral("=1+2"), QStringLiteral("0.00"),
         QStringLiteral("2"), QStringLiteral("+86 10")},
        // A short row: the missing cells are empty.
        {QStringLiteral("00012345"), QStringLiteral("00000004"), QStringLiteral("@某某")},
    };
    t.totalsLines = {QStringLiteral("合计：4 张"), QStringLiteral("金额合计：1222.20")};
    return t;
}

QStringList listing(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Reads an XLSX file with openpyxl (not the library that wrote it) and returns
// what it sees: the sheet names, the frozen pane, every cell's value, type,
// number format and boldness, and the column widths. Besides, "strings": the
// workbook's shared texts decoded as Excel decodes them ("_x0041_" is "A").
QJsonObject readXlsx(const QString& path) {
    static const char* const kScript = R"(
import json, re, sys, zipfile, openpyxl
import xml.etree.ElementTree as ET
from openpyxl.utils import get_column_letter
ns = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
with zipfile.ZipFile(sys.argv[1]) as z:
    shared = ET.fromstring(z.read("xl/sharedStrings.xml"))
strings = [re.sub("_x([0-9A-Fa-f]{4})_", lambda m: chr(int(m.group(1), 16)),
                  "".join(t.text or "" for t in si.iter(ns + "t"))) for si in shared.iter(ns + "si")]
wb = openpyxl.load_workbook(sys.argv[1])
ws = wb.worksheets[0]
cells = [[{"v": c.value, "t": c.data_type, "f": c.number_format, "b": bool(c.font.b)} for c in row]
         for row in ws.iter_rows(min_row=1, max_row=ws.max_row, max_col=ws.max_column)]
widths = {get_column_letter(i): ws.column_dimensions[get_column_letter(i)].width
          for i in range(1, ws.max_column + 1)}
json.dump({"sheets": wb.sheetnames, "freeze": ws.freeze_panes, "cells": cells, "widths": widths, "strings": strings},
          sys.stdout, ensure_ascii=False)
)";
    QProcess python;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PYTHONIOENCODING"), QStringLiteral("utf-8"));
    python.setProcessEnvironment(env);
    // Debian's interpreter, which has python3-openpyxl.
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(kScript), path});
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        ADD_FAILURE() << "openpyxl failed: " << python.readAllStandardError().toStdString();
        return {};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

QJsonObject cell(const QJsonObject& sheet, int row, int col) {
    return sheet.value(QLatin1String("cells")).toArray().at(row - 1).toArray().at(col - 1).toObject();
}

TEST(TableExport, XlsxHoldsTypedCellsUnderAFrozenHeader) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("清单.xlsx"));
    QString error;
    ASSERT_TRUE(exportReport(fixture(), ExportFormat::Xlsx, file, &error)) << error.toStdString();
    EXPECT_EQ(listing(dir.path()), QStringList{QStringLiteral("清单.xlsx")});

    const QJsonObject sheet = readXlsx(file);
    EXPECT_EQ(sheet.value(QLatin1String("sheets")).toArray(), QJsonArray{QStringLiteral("发票清单")});
    // Two heading lines, the header in row 3: the rows scroll under it.
    EXPECT_EQ(sheet.value(QLatin1String("freeze")).toString(), QStringLiteral("A4"));
    EXPECT_EQ(sheet.value(QLatin1String("cells")).toArray().size(), 2 + 1 + 4 + 2);

    const QJsonValue null(QJsonValue::Null);
    struct Expected {
        int row, col;
        QJsonValue value;
        const char* type;   // openpyxl's: "s" string, "n" number
        const char* format; // the number format
        bool bold = false;
    };
    const Expected expected[] = {
        {1, 1, QStringLiteral("纳税人：北京某某科技有限公司"), "s", "General"},
        {2, 1, QStringLiteral("所属月份：2024-05"), "s", "General"},
        {3, 1, QStringLiteral("发票代码"), "s", "General", true},
        {3, 4, QStringLiteral("金额"), "s", "General", true},
        {3, 6, QStringLiteral("备注"), "s", "General", true},
        {4, 1, QStringLiteral("00012345"), "s", "General"},
        {4, 2, QStringLiteral("00000001"), "s", "General"},
        {4, 3, QStringLiteral("北京某某科技有限公司"), "s", "General"},
        {4, 4, 1234.5, "n", "0.00"},
        {4, 5, 1, "n", "General"},
        {4, 6, QStringLiteral("-负数开头"), "s", "General"},
        // A line break in a cell is a line feed.
        {5, 3, QStringLiteral("某某, \"大\"公司\n二部"), "s", "General"},
        {5, 4, -12.3, "n", "0.00"},
        {5, 5, 0, "n", "General"},
        {5, 6, null, "n", "General"},
        {6, 3, QStringLiteral("=1+2"), "s", "General"},
        {6, 4, 0, "n", "0.00"},
        {6, 6, QStringLiteral("+86 10"), "s", "General"},
        {7, 3, QStringLiteral("@某某"), "s", "General"},
        {7, 4, null, "n", "General"},
        {7, 5, null, "n", "General"},
        {7, 6, null, "n", "General"},
        {8, 1, QStringLiteral("合计：4 张"), "s", "General"},
        {9, 1, QStringLiteral("金额合计：1222.20"), "s", "General"},
        {9, 2, null, "n", "General"},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(testing::Message() << "row " << e.row << " column " << e.col);
        const QJsonObject c = cell(sheet, e.row, e.col);
        EXPECT_EQ(c.value(QLatin1String("v")), e.value);
        EXPECT_EQ(c.value(QLatin1String("t")).toString(), QLatin1String(e.type));
        EXPECT_EQ(c.value(QLatin1String("f")).toString(), QLatin1String(e.format));
        EXPECT_EQ(c.value(QLatin1String("b")).toBool(), e.bold);
    }
    // Two units a Chinese character (the file adds the cell's margin, under one
    // unit); a title wider than its column widens it.
    const QJsonObject widths = sheet.value(QLatin1String("widths")).toObject();
    EXPECT_NEAR(widths.value(QLatin1String("C")).toDouble(), 24 + 0.5, 0.5);
    EXPECT_NEAR(widths.value(QLatin1String("E")).toDouble(), 8 + 0.5, 0.5);
}

// Switches LC_NUMERIC to a locale that writes a decimal comma: an installed
// one, or else one compiled into `dir` (Debian's images carry the sources but
// few compiled locales). False when there is none to be had.
bool useDecimalCommaLocale(const QTemporaryDir& dir) {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8"})
        if (std::setlocale(LC_NUMERIC, name)) return true;
    QProcess localedef;
    localedef.start(QStringLiteral("localedef"),
                    {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"), QStringLiteral("UTF-8"),
                     dir.filePath(QStringLiteral("de_DE.UTF-8"))});
    if (!localedef.waitForFinished(60000) || localedef.exitCode() != 0) return false;
    qputenv("LOCPATH", QFile::encodeName(dir.path()));
    const bool found = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    qunsetenv("LOCPATH");
    return found;
}

// The XLSX library formats numbers with the C library's locale; where that
// writes a decimal comma the amounts must still come out as numbers.
TEST(TableExport, XlsxAmountsAreNumbersUnderADecimalCommaLocale) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray before = std::setlocale(LC_NUMERIC, nullptr);
    if (!useDecimalCommaLocale(dir)) GTEST_SKIP() << "no locale with a decimal comma at hand";
    const QByteArray comma = std::localeconv()->decimal_point;
    const QString file = dir.filePath(QStringLiteral("a.xlsx"));
    QString error;
    const bool written = exportReport(fixture(), ExportFormat::Xlsx, file, &error);
    std::setlocale(LC_NUMERIC, before.constData());
    ASSERT_EQ(comma, QByteArray(","));
    ASSERT_TRUE(written) << error.toStdString();

    const QJsonObject sheet = readXlsx(file);
    EXPECT_EQ(cell(sheet, 4, 4).value(QLatin1String("v")), QJsonValue(1234.5));
    EXPECT_EQ(cell(sheet, 5, 4).value(QLatin1String("v")), QJsonValue(-12.3));
}

TEST(TableExport, XlsxTextsReadBackAsWritten) {
    ReportTable t;
    t.title = QStringLiteral("备注");
    t.columns = {{QStringLiteral("备注"), Type::Text, 10}};
    const QStringList texts = {QStringLiteral("_x0041_"),       QStringLiteral("代码_x000D_尾"),
                               QStringLiteral("_x0041_x0042_"), QStringLiteral("_x005F_"),
                               QStringLiteral("a\x01z"),        QStringLiteral("_x41_ _xZZZZ_")};
    for (const QString& text : texts) t.rows << QStringList{text};
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("备注.xlsx"));
    QString error;
    ASSERT_TRUE(exportReport(t, ExportFormat::Xlsx, file, &error)) << error.toStdString();
    const QJsonArray strings = readXlsx(file).value(QLatin1String("strings")).toArray();
    for (const QString& text : texts) EXPECT_TRUE(strings.contains(text)) << text.toStdString();
}

TEST(TableExport, SheetNamesFollowExcelsRules) {
    struct Case {
        QString title;
        QString name;
    };
    const QString thirtyOne = QString(31, QChar(u'表'));
    const Case cases[] = {
        {QStringLiteral("月度汇总"), QStringLiteral("月度汇总")},
        {QStringLiteral("清单[2024/05]: a*b?c\\d"), QStringLiteral("清单_2024_05__ a_b_c_d")},
        {QStringLiteral("'引号'"), QStringLiteral("引号")},
        {thirtyOne + QStringLiteral("多"), thirtyOne},
        {QString(30, QChar(u'表')) + QStringLiteral("'多"), QString(30, QChar(u'表'))},
        {QString(30, QChar(u'a')) + QString::fromUtf16(u"\U00020000"), QString(30, QChar(u'a'))},
        {QString(), QStringLiteral("Sheet1")},
        {QStringLiteral("''"), QStringLiteral("Sheet1")},
        {QStringLiteral("history"), QStringLiteral("history_")},
        {QStringLiteral("a\tb\nc"), QStringLiteral("abc")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title.toStdString());
        EXPECT_EQ(xlsxSheetName(c.title), c.name);
    }
}

TEST(TableExport, CsvHoldsTheHeaderAndTheRowsOnly) {
    const QByteArray expected = "\xEF\xBB\xBF"
                                "发票代码,发票号码,付款方名称,金额,打印次数,备注\r\n"
                                "00012345,00000001,北京某某科技有限公司,1234.50,1,'-负数开头\r\n"
                                "00012345,00000002,\"某某, \"\"大\"\"公司\r\n二部\",-12.30,0,\r\n"
                                "00012345,00000003,'=1+2,0.00,2,'+86 10\r\n"
                                "00012345,00000004,'@某某,,,\r\n";
    EXPECT_EQ(csvReport(fixture()), expected);
}

TEST(TableExport, CsvNeutralisesFormulasInTextOnly) {
    struct Case {
        Type type;
        QString cell;
        QByteArray field;
    };
    const Case cases[] = {
        {Type::Text, QStringLiteral("=HYPERLINK(\"x\")"), "\"'=HYPERLINK(\"\"x\"\")\""},
        {Type::Text, QStringLiteral("+1"), "'+1"},
        {Type::Text, QStringLiteral("-1"), "'-1"},
        {Type::Text, QStringLiteral("@cmd"), "'@cmd"},
        {Type::Text, QStringLiteral("\t=1"), "'\t=1"},
        {Type::Text, QStringLiteral("\r=1"), "\"'\r=1\""},
        {Type::Text, QStringLiteral("a=1"), "a=1"},
        {Type::Text, QStringLiteral(" =1"), " =1"},
        {Type::Text, QStringLiteral("'x"), "'x"},
        {Type::Text, QStringLiteral("＝1"), "＝1"},
        {Type::Amount, QStringLiteral("-12.30"), "-12.30"},
        {Type::Amount, QStringLiteral("+0.10"), "+0.10"},
        {Type::Count, QStringLiteral("-3"), "-3"},
        // Not a number: it is text to a spreadsheet, whatever the column.
        {Type::Amount, QStringLiteral("=1+2"), "'=1+2"},
        {Type::Count, QStringLiteral("-cmd"), "'-cmd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cell.toStdString());
        ReportTable t;
        t.columns = {{QStringLiteral("列"), c.type, 4}};
        t.rows = {{c.cell}};
        EXPECT_EQ(csvReport(t), QByteArray("\xEF\xBB\xBF列\r\n") + c.field + "\r\n");
    }
}

TEST(TableExport, JsonKeepsAmountsAsGivenAndCountsAsIntegers) {
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(jsonReport(fixture()), &parseError);
    ASSERT_EQ(parseError.error, QJsonParseError::NoError) << parseError.errorString().toStdString();
    const QJsonObject o = doc.object();
    EXPECT_EQ(o.value(QLatin1String("title")), QJsonValue(QStringLiteral("发票清单")));
    EXPECT_EQ(o.value(QLatin1String("heading")),
              QJsonArray({QStringLiteral("纳税人：北京某某科技有限公司"), QStringLiteral("所属月份：2024-05")}));
    const QJsonArray columns = o.value(QLatin1String("columns")).toArray();
    ASSERT_EQ(columns.size(), 6);
    EXPECT_EQ(columns.at(2).toObject(),
              QJsonObject({{QStringLiteral("title"), QStringLiteral("付款方名称")}, {QStringLiteral("type"), "text"}}));
    EXPECT_EQ(columns.at(3).toObject().value(QLatin1String("type")), QJsonValue("amount"));
    EXPECT_EQ(columns.at(4).toObject().value(QLatin1String("type")), QJsonValue("count"));

    const QJsonValue null(QJsonValue::Null);
    const QJsonArray rows = o.value(QLatin1String("rows")).toArray();
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows.at(0).toArray(), QJsonArray({QStringLiteral("00012345"), QStringLiteral("00000001"),
                                                QStringLiteral("北京某某科技有限公司"), QStringLiteral("1234.50"), 1,
                                                QStringLiteral("-负数开头")}));
    EXPECT_EQ(rows.at(1).toArray(),
              QJsonArray({QStringLiteral("00012345"), QStringLiteral("00000002"),
                          QStringLiteral("某某, \"大\"公司\r\n二部"), QStringLiteral("-12.30"), 0, null}));
    EXPECT_EQ(rows.at(2).toArray().at(3), QJsonValue(QStringLiteral("0.00")));
    EXPECT_EQ(rows.at(3).toArray(), QJsonArray({QStringLiteral("00012345"), QStringLiteral("00000004"),
                                                QStringLiteral("@某某"), null, null, null}));
    EXPECT_TRUE(rows.at(0).toArray().at(4).isDouble()); // a JSON number, not "1"
    EXPECT_EQ(o.value(QLatin1String("totals")),
              QJsonArray({QStringLiteral("合计：4 张"), QStringLiteral("金额合计：1222.20")}));
}

TEST(TableExport, EachFormatWritesWhatItsReportHolds) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const ReportTable t = fixture();
    for (const auto& [name, format, content] :
         {std::tuple{"csv", ExportFormat::Csv, csvReport(t)}, std::tuple{"json", ExportFormat::Json, jsonReport(t)}}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(exportFormatFromName(QLatin1String(name)), format);
        EXPECT_EQ(exportFormatName(format), QLatin1String(name));
        const QString file = dir.filePath(QStringLiteral("报表.") + QLatin1String(name));
        // Over an existing file, too.
        for (int i = 0; i < 2; ++i) {
            QString error;
            ASSERT_TRUE(exportReport(t, format, file, &error)) << error.toStdString();
            EXPECT_EQ(readAll(file), content);
        }
    }
    EXPECT_EQ(exportFormatFromName(QStringLiteral("xlsx")), ExportFormat::Xlsx);
    for (const char* other : {"", "XLSX", "table", "xls", "csv "})
        EXPECT_EQ(exportFormatFromName(QLatin1String(other)), std::nullopt) << other;
    EXPECT_EQ(listing(dir.path()), (QStringList{QStringLiteral("报表.csv"), QStringLiteral("报表.json")}));
}

TEST(TableExport, AFileThatCannotBeWrittenLeavesNothingBehind) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString subdir = dir.filePath(QStringLiteral("已有目录"));
    ASSERT_TRUE(QDir().mkdir(subdir));
    const QString missing = dir.filePath(QStringLiteral("没有的目录/清单"));
    for (const ExportFormat format : {ExportFormat::Xlsx, ExportFormat::Csv, ExportFormat::Json}) {
        const std::pair<QString, QString> cases[] = {
            {missing, QStringLiteral("目录不存在：") + dir.filePath(QStringLiteral("没有的目录"))},
            {subdir, QStringLiteral("这是一个目录，不是文件")},
        };
        for (const auto& [target, reason] : cases) {
            SCOPED_TRACE(exportFormatName(format).toStdString() + " " + target.toStdString());
            QString error;
            EXPECT_FALSE(exportReport(fixture(), format, target, &error));
            EXPECT_EQ(error, QStringLiteral("导出文件写入失败：") + target + QStringLiteral("\r\n") + reason);
            EXPECT_EQ(listing(dir.path()), QStringList{QStringLiteral("已有目录")});
            EXPECT_TRUE(listing(subdir).isEmpty());
        }
    }
}

TEST(TableExport, AFailedXlsxLeavesTheExistingFileAsItWas) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("清单.xlsx"));
    const QByteArray old = "the report of last month";
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(old), old.size());
    }
    // Beyond what an Excel cell holds: the library refuses it half way through the sheet.
    ReportTable t = fixture();
    t.rows[1][5] = QString(32768, QChar(u'长'));
    QString error;
    EXPECT_FALSE(exportReport(t, ExportFormat::Xlsx, file, &error));
    EXPECT_EQ(error,
              QStringLiteral("导出文件写入失败：") + file + QStringLiteral("\r\n单元格 F5 的文字超过 32767 个字符"));
    EXPECT_EQ(readAll(file), old);
    EXPECT_EQ(listing(dir.path()), QStringList{QStringLiteral("清单.xlsx")});
}

TEST(TableExport, AReadOnlyDirectoryKeepsItsFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not hold back root";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("清单"));
    const QByteArray old = "the report of last month";
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(old), old.size());
    }
    ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    for (const ExportFormat format : {ExportFormat::Xlsx, ExportFormat::Csv, ExportFormat::Json}) {
        SCOPED_TRACE(exportFormatName(format).toStdString());
        QString error;
        EXPECT_FALSE(exportReport(fixture(), format, file, &error));
        EXPECT_EQ(error, QStringLiteral("导出文件写入失败：") + file + QStringLiteral("\r\n没有写入权限"));
        EXPECT_EQ(readAll(file), old);
        EXPECT_EQ(listing(dir.path()), QStringList{QStringLiteral("清单")});
    }
    (void)QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); // for the clean-up
}

} // namespace
} // namespace fp
