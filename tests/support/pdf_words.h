#pragma once
// What a PDF says, read back with pdftotext (poppler-utils, see
// scripts/setup.sh): its words with their boxes on the page, or its text as
// laid out, a form feed after each page.
#include <QProcess>
#include <QRectF>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <vector>

namespace fp::test {

struct PdfWord {
    QString text;
    QRectF mm; // on the page, millimetres from its top-left corner
    int page = 0;
};

inline QString runPoppler(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.start(program, arguments);
    EXPECT_TRUE(p.waitForFinished(120000))
        << program.toStdString() << " (poppler-utils, see scripts/setup.sh) did not run";
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

inline QString runPdftotext(const QStringList& arguments) { return runPoppler(QStringLiteral("pdftotext"), arguments); }

// The number of pages of a PDF, as pdfinfo reads it (-1 when it says none).
inline int pdfPageCount(const QString& file) {
    static const QRegularExpression pagesRe(QStringLiteral("^Pages:\\s+(\\d+)$"), QRegularExpression::MultilineOption);
    const auto m = pagesRe.match(runPoppler(QStringLiteral("pdfinfo"), {file}));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Every word of a PDF with its box, as pdftotext -bbox reads them.
inline std::vector<PdfWord> pdfWords(const QString& file, int* pages = nullptr) {
    constexpr double kPtPerMm = 72.0 / 25.4;
    const QString xml = runPdftotext({QStringLiteral("-bbox"), file, QStringLiteral("-")});
    std::vector<PdfWord> words;
    static const QRegularExpression wordRe(QStringLiteral(
        "<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" yMax=\"([\\d.]+)\">([^<]*)</word>|<page "));
    int page = 0;
    for (auto it = wordRe.globalMatch(xml); it.hasNext();) {
        const auto m = it.next();
        if (m.captured(1).isEmpty()) { // a new page
            ++page;
            continue;
        }
        const double x1 = m.captured(1).toDouble() / kPtPerMm, y1 = m.captured(2).toDouble() / kPtPerMm;
        const double x2 = m.captured(3).toDouble() / kPtPerMm, y2 = m.captured(4).toDouble() / kPtPerMm;
        words.push_back({m.captured(5), QRectF(QPointF(x1, y1), QPointF(x2, y2)), page});
    }
    if (pages) *pages = page;
    return words;
}

// The text of each page of a PDF as pdftotext -layout sets it.
inline QStringList pdfPages(const QString& file) {
    QStringList pages = runPdftotext({QStringLiteral("-layout"), file, QStringLiteral("-")}).split(QLatin1Char('\f'));
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty()) pages.removeLast();
    return pages;
}

} // namespace fp::test
