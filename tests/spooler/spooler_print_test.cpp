// Printing through a real print system: a cupsd of the test's own (its own
// configuration, spool, logs and socket in a temporary folder) with a queue on
// the cups-pdf backend. The invoice is printed from the print preview through
// Qt's print support, the way a clerk prints it, and the PDF the spooler
// produced is read back: its paper, and where the values lie on it with the
// printer's offset applied.
//
// Where the machine does not allow it (not root, the packages missing, cupsd
// cannot start, the backend may not run) the test is skipped and says why.
//
// This program runs only this test: the print system's client library reads
// CUPS_SERVER once, at the first call any test of the process makes.
#include "data_model/form_def.h"
#include "host/judge_column.h"
#include "services/print_render.h"
#include "services/printer_offsets.h"
#include "tests/support/pdf_words.h"
#include "tests/support/print_fixture.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_db.h"
#include "tests/ui/qt_app.h"
#include "ui/print_preview.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileSystemWatcher>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <unistd.h>

namespace fp {
namespace {

// How long the spooler may take to start, and a job to come out of it
// (ghostscript runs twice on the way).
constexpr int kStartMs = 20000;
constexpr int kJobMs = 90000;
// Between two looks at the spooler's state.
constexpr int kPollMs = 50;

// Waits until `ready` holds or `gaveUp` says to stop, looking again whenever a
// file in one of `folders` changes (the scheduler's socket appearing, a job's
// files in the spool and output folders) and, for changes no folder shows, at
// a tick of kPollMs. True when ready.
bool waitUntil(const QStringList& folders, const std::function<bool()>& ready, const std::function<bool()>& gaveUp) {
    if (ready()) return true;
    QFileSystemWatcher watcher(folders);
    QEventLoop loop;
    QTimer tick;
    bool done = false;
    const auto look = [&] {
        if (ready()) done = true;
        if (done || gaveUp()) loop.quit();
    };
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, look);
    QObject::connect(&tick, &QTimer::timeout, &loop, look);
    tick.start(kPollMs);
    loop.exec();
    return done;
}

const QString kCupsPdfBackend = QStringLiteral("/usr/lib/cups/backend/cups-pdf");
const QString kCupsPdfPpd = QStringLiteral("/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd");
// cups-pdf reads the configuration of queue NAME (device cups-pdf:/NAME) from
// here; it has no other place for it.
const QString kCupsPdfConfDir = QStringLiteral("/etc/cups");

QString tool(const QString& name) {
    return QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"),
                                                 QStringLiteral("/sbin"), QStringLiteral("/bin")});
}

struct Run {
    bool finished = false;
    int exitCode = -1;
    QString out;
    QString err;
};

Run run(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.start(program, arguments);
    Run r;
    r.finished = p.waitForFinished(30000);
    r.exitCode = r.finished ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

bool writeFile(const QString& path, const QString& text) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text.toUtf8()) == text.toUtf8().size();
}

QString lastLines(const QString& path, int lines = 12) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QString();
    QStringList all = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return all.mid(std::max<qsizetype>(0, all.size() - lines)).join(QLatin1Char('\n'));
}

// A cupsd of the test's own, on a socket in its folder, with one queue on the
// cups-pdf backend writing into the folder. Stopped (and the backend's
// configuration removed) when it goes.
class PrivateSpooler {
public:
    PrivateSpooler()
        : queue_(QStringLiteral("fpdesk_test_%1").arg(QCoreApplication::applicationPid())),
          cupsPdfConf_(kCupsPdfConfDir + QStringLiteral("/cups-pdf-") + queue_ + QStringLiteral(".conf")) {}
    ~PrivateSpooler() {
        if (cupsd_.state() != QProcess::NotRunning) {
            cupsd_.terminate();
            if (!cupsd_.waitForFinished(10000)) {
                cupsd_.kill();
                (void)cupsd_.waitForFinished(5000); // killed: nothing more to wait for
            }
        }
        if (wroteConf_) QFile::remove(cupsPdfConf_);
    }

    const QString& queue() const { return queue_; }
    QString socket() const { return path("cups.sock"); }
    QString errorLog() const { return path("log/error_log"); }

    // Empty when the spooler runs with the queue; otherwise why it cannot here.
    QString start() {
        if (geteuid() != 0)
            return QStringLiteral("cups-pdf runs as root and reads its configuration from /etc/cups: "
                                  "the test needs root");
        for (const char* name : {"cupsd", "lpadmin", "lpstat", "pdfinfo", "pdftotext"})
            if (tool(QString::fromLatin1(name)).isEmpty())
                return QStringLiteral("%1 is not installed (scripts/setup.sh installs cups, "
                                      "printer-driver-cups-pdf and poppler-utils)")
                    .arg(QString::fromLatin1(name));
        for (const QString& file : {kCupsPdfBackend, kCupsPdfPpd})
            if (!QFile::exists(file))
                return file + QStringLiteral(" is missing (scripts/setup.sh installs printer-driver-cups-pdf)");
        if (!dir_.isValid()) return QStringLiteral("no temporary folder: ") + dir_.errorString();
        if (!QFileInfo(kCupsPdfConfDir).isWritable())
            return kCupsPdfConfDir + QStringLiteral(" is not writable: cups-pdf's queue cannot be configured");

        // The filters run as lp: the folders they pass through must be open to it.
        const QFile::Permissions open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                        QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        QFile::setPermissions(dir_.path(), open);
        for (const char* sub : {"etc/ppd", "spool/tmp", "cache", "state", "log", "out", "cups-pdf"}) {
            if (!QDir().mkpath(path(sub))) return QStringLiteral("cannot make ") + path(sub);
            QFile::setPermissions(path(sub), open);
        }
        QFile::setPermissions(path("etc"), open);
        QFile::setPermissions(path("spool"), open);
        QFile::setPermissions(path("spool/tmp"), open | QFile::WriteGroup | QFile::WriteOther);

        const QString files = QStringLiteral("ServerRoot %1/etc\nRequestRoot %1/spool\nTempDir %1/spool/tmp\n"
                                             "CacheDir %1/cache\nStateDir %1/state\nErrorLog %1/log/error_log\n"
                                             "AccessLog %1/log/access_log\nPageLog %1/log/page_log\n"
                                             "FileDevice No\nSystemGroup root\nUser lp\nGroup lp\n")
                                  .arg(dir_.path());
        // Only this socket; anyone on it may do anything (it is the test's).
        const QString daemon = QStringLiteral("Listen %1\nLogLevel debug\nBrowsing Off\nWebInterface No\n"
                                              "DefaultAuthType None\nErrorPolicy abort-job\nDefaultPolicy open\n"
                                              "<Policy open>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n"
                                              "</Policy>\n<Location />\n  Order deny,allow\n</Location>\n")
                                   .arg(socket());
        const QString cupsPdf = QStringLiteral("Out %1/out\nAnonDirName %1/out\nSpool %1/cups-pdf\nLog %1/log\n"
                                               "LogType 3\n")
                                    .arg(dir_.path());
        if (!writeFile(path("etc/cups-files.conf"), files) || !writeFile(path("etc/cupsd.conf"), daemon))
            return QStringLiteral("cannot write the spooler's configuration in ") + dir_.path();
        if (QFile::exists(cupsPdfConf_)) return cupsPdfConf_ + QStringLiteral(" exists already (another run?)");
        if (!writeFile(cupsPdfConf_, cupsPdf)) return QStringLiteral("cannot write ") + cupsPdfConf_;
        wroteConf_ = true;

        const QStringList configuration{QStringLiteral("-c"), path("etc/cupsd.conf"), QStringLiteral("-s"),
                                        path("etc/cups-files.conf")};
        const Run check = run(tool(QStringLiteral("cupsd")), QStringList{QStringLiteral("-t")} + configuration);
        if (check.exitCode != 0) return QStringLiteral("cupsd refuses the configuration: ") + check.err + check.out;

        cupsd_.setProcessChannelMode(QProcess::MergedChannels);
        cupsd_.start(tool(QStringLiteral("cupsd")), QStringList{QStringLiteral("-f")} + configuration);
        if (!cupsd_.waitForStarted(kStartMs)) return QStringLiteral("cupsd cannot start: ") + cupsd_.errorString();
        QElapsedTimer waited;
        waited.start();
        const auto running = [&] {
            return run(tool(QStringLiteral("lpstat")), {QStringLiteral("-h"), socket(), QStringLiteral("-r")})
                       .out.trimmed() == QLatin1String("scheduler is running");
        };
        const auto stopped = [&] { return cupsd_.state() == QProcess::NotRunning || waited.elapsed() > kStartMs; };
        if (!waitUntil({dir_.path()}, running, stopped))
            return QStringLiteral("cupsd did not come up: ") + QString::fromUtf8(cupsd_.readAll()) +
                   lastLines(errorLog());

        const Run add =
            run(tool(QStringLiteral("lpadmin")),
                {QStringLiteral("-h"), socket(), QStringLiteral("-p"), queue_, QStringLiteral("-E"),
                 QStringLiteral("-v"), QStringLiteral("cups-pdf:/") + queue_, QStringLiteral("-P"), kCupsPdfPpd});
        if (add.exitCode != 0) return QStringLiteral("lpadmin cannot add the queue: ") + add.err;
        return QString();
    }

    // Waits until the queue holds no unfinished job and returns the PDF it
    // wrote. Empty, with the reason in *why, when none came; *backendRefused
    // when the backend itself could not run here.
    QString waitForPdf(QString* why, bool* backendRefused) {
        const QString lpstat = tool(QStringLiteral("lpstat"));
        QElapsedTimer waited;
        waited.start();
        Run pending;
        const auto finished = [&] {
            pending = run(lpstat, {QStringLiteral("-h"), socket(), QStringLiteral("-o"), queue_});
            const Run done = run(lpstat, {QStringLiteral("-h"), socket(), QStringLiteral("-W"),
                                          QStringLiteral("completed"), QStringLiteral("-o"), queue_});
            return pending.exitCode == 0 && pending.out.trimmed().isEmpty() && !done.out.trimmed().isEmpty();
        };
        if (!waitUntil({path("out"), path("spool")}, finished, [&] { return waited.elapsed() > kJobMs; })) {
            *why = QStringLiteral("no job finished within %1 s: ").arg(kJobMs / 1000) + pending.out +
                   lastLines(errorLog());
            return QString();
        }
        const QStringList pdfs = QDir(path("out")).entryList({QStringLiteral("*.pdf")}, QDir::Files);
        if (pdfs.size() == 1) return path("out") + QLatin1Char('/') + pdfs.first();
        const QString log = lastLines(errorLog(), 40);
        *backendRefused =
            pdfs.isEmpty() && log.contains(QStringLiteral("cups-pdf")) &&
            (log.contains(QStringLiteral("Permission denied")) ||
             log.contains(QStringLiteral("Backend returned status")) || log.contains(QStringLiteral("crashed")));
        *why = QStringLiteral("%1 PDF files in %2: ").arg(pdfs.size()).arg(path("out")) + log +
               lastLines(path("log/cups-pdf-") + queue_ + QStringLiteral("_log"));
        return QString();
    }

private:
    QString path(const char* sub) const { return dir_.filePath(QString::fromLatin1(sub)); }

    // Short: the socket's path must fit a socket address.
    QTemporaryDir dir_{QDir::tempPath() + QStringLiteral("/fpdesk-spool-XXXXXX")};
    const QString queue_;
    const QString cupsPdfConf_;
    bool wroteConf_ = false;
    QProcess cupsd_;
};

// The extent of the words whose centres lie in a box; null when none do.
QRectF wordsAround(const std::vector<test::PdfWord>& words, const QRectF& box) {
    QRectF extent;
    for (const test::PdfWord& w : words)
        if (box.contains(w.mm.center())) extent = extent.isNull() ? w.mm : extent.united(w.mm);
    return extent;
}

TEST(SpoolerPrint, AnInvoicePrintedThroughARealQueueComesOutOnTheInvoicePaperWithTheOffset) {
    test::qtApp();
    installFormHostFunctions();
    PrivateSpooler spooler;
    if (const QString refused = spooler.start(); !refused.isEmpty()) GTEST_SKIP() << refused.toStdString();
    // Before any call of the print system's client in this process.
    qputenv("CUPS_SERVER", spooler.socket().toUtf8());

    test::TempDb db{test::TempDb::Content::DemoData};
    auto form = test::knownPrintInvoice(db.tx());
    s_preview_parameter parameter;
    parameter.dw_datawindow = form.get();
    parameter.dw_datawindowname = QStringLiteral("d_fp_integrated_print");
    parameter.s_print_type = QStringLiteral("1");

    QTemporaryDir settingsDir;
    QSettings settings(settingsDir.filePath(QStringLiteral("client.ini")), QSettings::IniFormat);
    PrinterOffsets offsets(settings);
    const PrintOffsetMm offset{3.0, -2.0};
    offsets.setOffset(spooler.queue(), offset);

    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setPrinterName(spooler.queue());
    ASSERT_EQ(printer->printerName(), spooler.queue()) << "Qt's print support does not see the queue";
    ASSERT_EQ(printer->outputFormat(), QPrinter::NativeFormat);
    ui::PrintPreviewDialog preview(parameter, offsets, nullptr, std::move(printer));
    preview.show();
    test::drainEvents();
    EXPECT_EQ(preview.mode(), PrintMode::PrePrintedPaper);
    test::whenShown<QPrintDialog>([](QPrintDialog* d) { d->accept(); });
    ASSERT_TRUE(preview.print());
    EXPECT_EQ(preview.printReturn().sl_printcnt, std::optional<long>(1));
    EXPECT_EQ(preview.printReturn().ss_printer, spooler.queue());

    QString why;
    bool backendRefused = false;
    const QString pdf = spooler.waitForPdf(&why, &backendRefused);
    if (pdf.isEmpty() && backendRefused) GTEST_SKIP() << "the cups-pdf backend may not run here: " << why.toStdString();
    ASSERT_FALSE(pdf.isEmpty()) << why.toStdString();

    // The paper: 241.3 x 177.8 mm is 684 x 504 points; one page.
    const QString info = test::runPoppler(QStringLiteral("pdfinfo"), {pdf});
    const QRegularExpression sizeRe(QStringLiteral("Page size:\\s+([\\d.]+) x ([\\d.]+) pts"));
    const auto size = sizeRe.match(info);
    ASSERT_TRUE(size.hasMatch()) << info.toStdString();
    EXPECT_NEAR(size.captured(1).toDouble(), 241.3 * 72 / 25.4, 0.5) << info.toStdString();
    EXPECT_NEAR(size.captured(2).toDouble(), 177.8 * 72 / 25.4, 0.5) << info.toStdString();
    EXPECT_EQ(test::pdfPageCount(pdf), 1);

    // Where the values lie. The spooler's PDF went through PostScript and back,
    // which keeps the positions but not the characters' meaning (pdftotext
    // reads other characters, and words split differently): positions are
    // compared, with the same invoice written by the renderer's own PDF writer
    // with the same offset as the reference.
    const PrintLayout& layout = invoicePrintLayout();
    auto box = [&](const QString& name, int row, const PrintOffsetMm& shift) {
        const LayoutObject* o = layout.object(name);
        EXPECT_NE(o, nullptr) << name.toStdString();
        return o ? objectBoxMm(layout, *o, row, layout.paperItemRows, shift) : QRectF();
    };
    PrintOptions same;
    same.mode = PrintMode::PrePrintedPaper;
    same.offset = offset;
    const QString referenceFile = settingsDir.filePath(QStringLiteral("reference.pdf"));
    QString error;
    ASSERT_TRUE(printInvoiceToPdf(*form, referenceFile, 1, same, &error)) << error.toStdString();
    const auto reference = test::pdfWords(referenceFile);
    const auto spooled = test::pdfWords(pdf);
    ASSERT_FALSE(spooled.empty()) << "no words in " << pdf.toStdString();

    enum class Side { Left, Right };
    const struct {
        const char* object;
        int row;
        Side aligned;
    } placed[] = {
        {"ptfp_fpk_fphm", 1, Side::Left},    {"ptfp_fpk_fkfmc", 1, Side::Left},
        {"ptfp_fpxmmx_xmmc", 3, Side::Left}, {"ptfp_fpxmmx_je", 1, Side::Right},
        {"ptfp_fpxmmx_je", 3, Side::Right},  {"cpt_amt", 1, Side::Right},
        {"compute_1", 1, Side::Left},        {"kpr", 1, Side::Left},
    };
    for (const auto& p : placed) {
        SCOPED_TRACE(std::string(p.object) + " row " + std::to_string(p.row));
        const QRectF where = box(QString::fromLatin1(p.object), p.row, offset);
        const QRectF expected = wordsAround(reference, where);
        const QRectF found = wordsAround(spooled, where);
        ASSERT_FALSE(expected.isNull());
        ASSERT_FALSE(found.isNull()) << "nothing printed in the box";
        const auto edge = [&](const QRectF& r) { return p.aligned == Side::Left ? r.left() : r.right(); };
        EXPECT_NEAR(edge(found), edge(expected), 0.3);
        EXPECT_NEAR(found.center().y(), expected.center().y(), 0.5);
    }
    // Nothing where a value would be without the offset (the issuer's box has
    // no other value within the shift above it).
    EXPECT_TRUE(wordsAround(spooled, box(QStringLiteral("kpr"), 1, {})).isNull());
    // and nothing but values: every word lies in a value's box (pre-printed
    // paper: no heading, no title)
    std::vector<QRectF> valueBoxes;
    for (const LayoutObject& o : layout.objects) {
        if (o.hidden || form->def().text(o.name)) continue;
        for (int row = 1; row <= (o.band == Band::Detail ? layout.paperItemRows : 1); ++row)
            valueBoxes.push_back(box(o.name, row, offset));
    }
    for (const test::PdfWord& w : spooled)
        EXPECT_TRUE(std::any_of(valueBoxes.begin(), valueBoxes.end(),
                                [&](const QRectF& b) { return b.contains(w.mm.center()); }))
            << "a word outside every value box at " << w.mm.x() << ", " << w.mm.y() << " mm";
}

} // namespace
} // namespace fp
