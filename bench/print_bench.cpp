// The invoice print renderer: one page of a known invoice (three item lines,
// the whole form: headings, rules, title and values) rendered to a PDF (in
// memory, as printInvoicePages does for a file) and to an image (10 dots a
// millimetre, a 2413 x 1778 page).
//
// The floor, measured in every iteration next to the renderer on the same kind
// of device: the same texts drawn bare at the same positions in the same fonts
// and colours (one QPainter::drawText per object, texts and boxes worked out
// once before the run). ratio_to_floor is the renderer's time over the
// floor's; what it adds is looking the values up in the form, fitting each
// text to its box and the rules.
#include "data_model/data_store.h"
#include "data_model/decimal.h"
#include "data_model/demo_constants.h"
#include "data_model/demo_data.h"
#include "data_model/form_def.h"
#include "data_model/schema.h"
#include "data_model/transaction.h"
#include "host/judge_column.h"
#include "services/print_render.h"

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;
double secondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

constexpr int kDotsPerMm = 10;
const QString kFphm = QStringLiteral("00000011");

[[noreturn]] void die(const QString& what) {
    std::fprintf(stderr, "print_bench: %s\n", qPrintable(what));
    std::exit(1);
}

// One text at its place, in device-independent millimetres.
struct BareText {
    QRectF mm;
    QString family;
    double points;
    bool bold;
    int flags;
    QColor colour;
    QString text;
};

class Bench {
public:
    static Bench& get() {
        if (!instance()) instance().reset(new Bench);
        return *instance();
    }
    // Before the application goes: the form and its connection.
    static void release() { instance().reset(); }
    const fp::DataStore& form() const { return *form_; }
    const std::vector<BareText>& texts() const { return texts_; }

private:
    static std::unique_ptr<Bench>& instance() {
        static std::unique_ptr<Bench> b;
        return b;
    }
    Bench() {
        fp::installFormHostFunctions();
        QString error;
        sqlca_ = fp::Transaction::openSqlite(dir_.filePath(QStringLiteral("bench.db")), &error);
        if (!sqlca_ || !fp::createSchema(*sqlca_, &error) || !fp::createDemoData(*sqlca_, &error)) die(error);
        insertInvoice();
        form_ = fp::makeStore(QStringLiteral("d_fp_integrated_print"), *sqlca_);
        if (form_->retrieve({QString::fromLatin1(fp::demo::kSxh), QString::fromLatin1(fp::demo::kCode50), kFphm}) != 3)
            die(QStringLiteral("the invoice was not read back"));
        collectTexts();
    }

    void insertInvoice() {
        auto dec = [](const char* v) { return QVariant::fromValue(*fp::Decimal::parse(QString::fromLatin1(v))); };
        const QDateTime saved(QDate(2009, 3, 1), QTime(8, 5, 9));
        const QString code = QString::fromLatin1(fp::demo::kCode50);
        if (!sqlca_->exec(QStringLiteral("INSERT INTO ptfp_fpk (fpdm, fphm, fpzlbm, swjgdm, sxh, fpzt, fkfmc, fkfzjlx, "
                                         "fkfzjhm, skfmc, hjje, kpr, bcrq, kprq, drcs) "
                                         "VALUES (?, ?, '50', ?, ?, '1', ?, ?, ?, ?, ?, ?, ?, ?, 0)"),
                          {code, kFphm, QString::fromLatin1(fp::demo::kSwjgdm), QString::fromLatin1(fp::demo::kSxh),
                           QStringLiteral("青岛海滨餐饮有限公司"), QStringLiteral("纳税人识别号"),
                           QStringLiteral("370203198001011234"), QString::fromUtf8(fp::demo::kTaxpayerName),
                           dec("1234.50"), QStringLiteral("张晓明"), saved, saved}))
            die(sqlca_->sqlerrtext);
        const char* const lines[][4] = {{"餐饮服务", "2.00", "300.00", "600.00"},
                                        {"住宿费", "1.00", "580.00", "580.00"},
                                        {"停车费", "3.00", "18.17", "54.50"}};
        int serial = 1;
        for (const auto& l : lines)
            if (!sqlca_->exec(QStringLiteral("INSERT INTO ptfp_fpxmmx (fpdm, fphm, iserial, xmmc, mj, dj, je) "
                                             "VALUES (?, ?, ?, ?, ?, ?, ?)"),
                              {code, kFphm, serial++, QString::fromUtf8(l[0]), dec(l[1]), dec(l[2]), dec(l[3])}))
                die(sqlca_->sqlerrtext);
        if (!sqlca_->commit()) die(sqlca_->sqlerrtext);
    }

    // Every object the whole form draws, with its text as the renderer shows it.
    void collectTexts() {
        const fp::FormDef& def = form_->def();
        const fp::PrintLayout& layout = *def.layout;
        const int rows = std::max(form_->rowCount(), layout.paperItemRows);
        for (const fp::LayoutObject& o : layout.objects) {
            if (o.hidden) continue;
            const int repeats = o.band == fp::Band::Detail ? form_->rowCount() : 1;
            for (int r = 1; r <= repeats; ++r) {
                QString text;
                if (const fp::TextObject* t = def.text(o.name))
                    text = t->text;
                else if (def.column(o.name))
                    text = form_->displayText(r, o.name);
                else if (const fp::ComputedField* f = def.computedField(o.name))
                    text = fp::formatValue(form_->computed(o.name, r), f->format);
                if (text.isEmpty()) continue;
                const int h = o.align == fp::Align::Left    ? Qt::AlignLeft
                              : o.align == fp::Align::Right ? Qt::AlignRight
                                                            : Qt::AlignHCenter;
                texts_.push_back({fp::objectBoxMm(layout, o, r, rows), fp::printFontFamily(o.fontFamily),
                                  double(o.fontSize), o.bold, h | Qt::AlignVCenter | Qt::TextDontClip, Qt::black,
                                  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))});
            }
        }
    }

    QTemporaryDir dir_;
    std::unique_ptr<fp::Transaction> sqlca_;
    std::unique_ptr<fp::DataStore> form_;
    std::vector<BareText> texts_;
};

fp::PrintOptions wholeForm() {
    fp::PrintOptions o;
    o.mode = fp::PrintMode::WholeForm;
    return o;
}

void paintBare(QPainter& painter, const std::vector<BareText>& texts) {
    const double dotsX = painter.device()->logicalDpiX() / 25.4, dotsY = painter.device()->logicalDpiY() / 25.4;
    for (const BareText& t : texts) {
        QFont f(t.family);
        f.setPointSizeF(t.points);
        f.setBold(t.bold);
        painter.setFont(f);
        painter.setPen(t.colour);
        painter.drawText(QRectF(t.mm.x() * dotsX, t.mm.y() * dotsY, t.mm.width() * dotsX, t.mm.height() * dotsY),
                         t.flags, t.text);
    }
}

QImage blankPage() {
    const fp::PrintLayout& l = fp::invoicePrintLayout();
    QImage image(int(l.paperWidthMm * kDotsPerMm), int(l.paperHeightMm * kDotsPerMm),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDotsPerMeterX(kDotsPerMm * 1000);
    image.setDotsPerMeterY(kDotsPerMm * 1000);
    image.fill(Qt::white);
    return image;
}

void report(benchmark::State& state, double rendered, double floor, double n) {
    state.counters["floor_ms"] = 1000 * floor / n;
    state.counters["ratio_to_floor"] = floor > 0 ? rendered / floor : 0;
}

void BM_RenderPdf(benchmark::State& state) {
    Bench& b = Bench::get();
    const fp::PrintLayout& l = fp::invoicePrintLayout();
    double rendered = 0, floor = 0, n = 0;
    qint64 bytes = 0;
    for (auto _ : state) {
        auto writeOne = [&](auto paint) {
            QBuffer out;
            out.open(QIODevice::WriteOnly);
            QPdfWriter writer(&out);
            writer.setResolution(1200);
            writer.setPageLayout(QPageLayout(fp::paperOf(l), QPageLayout::Portrait, QMarginsF()));
            const auto t0 = Clock::now();
            QPainter painter(&writer);
            paint(painter);
            painter.end();
            bytes = out.size();
            return secondsSince(t0);
        };
        const double t = writeOne([&](QPainter& p) { fp::renderInvoicePage(p, b.form(), wholeForm()); });
        floor += writeOne([&](QPainter& p) { paintBare(p, b.texts()); });
        rendered += t;
        ++n;
        state.SetIterationTime(t);
    }
    report(state, rendered, floor, n);
    state.counters["pdf_kb"] = double(bytes) / 1024;
}

void BM_RenderImage(benchmark::State& state) {
    Bench& b = Bench::get();
    double rendered = 0, floor = 0, n = 0;
    for (auto _ : state) {
        auto paintOne = [&](auto paint) {
            QImage image = blankPage();
            const auto t0 = Clock::now();
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            paint(painter);
            painter.end();
            return secondsSince(t0);
        };
        const double t = paintOne([&](QPainter& p) { fp::renderInvoicePage(p, b.form(), wholeForm()); });
        floor += paintOne([&](QPainter& p) { paintBare(p, b.texts()); });
        rendered += t;
        ++n;
        state.SetIterationTime(t);
    }
    report(state, rendered, floor, n);
}

BENCHMARK(BM_RenderPdf)->Iterations(200)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderImage)->Iterations(200)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Bench::get();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Bench::release();
    return 0;
}
