#include "services/print_render.h"

#include "data_model/data_store.h"
#include "data_model/form_def.h"
#include "services/pdf_file.h"

#include <QColor>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>

#include <algorithm>
#include <cmath>

namespace fp {

namespace {

const QString kPrintFormName = QStringLiteral("d_fp_integrated_print");

// Rules are a quarter millimetre wide, as on the paper.
constexpr double kRuleWidthMm = 0.25;
// A value too wide for its box is set smaller, down to this share of its size,
// before it may overflow.
constexpr double kSmallestFontShare = 0.6;
constexpr double kPointMm = 25.4 / 72.0;
// Texts keep this far (layout units) from the left and right edges of their box.
constexpr double kTextInsetUnits = 8;

enum class ObjectKind { Text, Column, Computed, Unknown };

ObjectKind kindOf(const FormDef& def, const QString& name) {
    if (def.text(name)) return ObjectKind::Text;
    if (def.column(name)) return ObjectKind::Column;
    if (def.computedField(name)) return ObjectKind::Computed;
    return ObjectKind::Unknown;
}

// Layout units from the top of the page to the top of an object's band.
double bandTop(const PrintLayout& layout, Band band, int itemRow, int itemRows) {
    switch (band) {
    case Band::Header:
    case Band::Page: return 0;
    case Band::Detail: return layout.headerHeight + double(std::max(itemRow, 1) - 1) * layout.detailHeight;
    case Band::Summary: return layout.headerHeight + double(itemRows) * layout.detailHeight;
    }
    return 0;
}

// Item rows drawn: every row of the form, and never fewer than the paper has
// (so the closing area lands where the paper has it).
int itemRowsOf(const PrintLayout& layout, const DataStore& form) {
    return std::max({form.rowCount(), layout.paperItemRows, 1});
}

QRectF boxInUnits(const PrintLayout& layout, const LayoutObject& o, int itemRow, int itemRows) {
    return QRectF(o.x, bandTop(layout, o.band, itemRow, itemRows) + o.y, o.width, o.height);
}

QColor hostColour(int c) { return QColor(redOf(c), greenOf(c), blueOf(c)); }

QFont layoutFont(const PrintLayout& layout, const LayoutObject& o) {
    QFont f(printFontFamily(o.fontFamily));
    f.setStyleHint(o.fontFamily == QStringLiteral("黑体") ? QFont::SansSerif : QFont::Serif);
    // Sizes are in layout units (the painter draws in them); no hinting, so a
    // text takes the same room on screen, on paper and in a PDF.
    f.setPixelSize(std::max(1, int(std::lround(o.fontSize * kPointMm / layout.unitMm))));
    f.setBold(o.bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

int alignmentFlags(Align a) {
    switch (a) {
    case Align::Left: return Qt::AlignLeft | Qt::AlignVCenter;
    case Align::Center: return Qt::AlignHCenter | Qt::AlignVCenter;
    case Align::Right: return Qt::AlignRight | Qt::AlignVCenter;
    }
    return Qt::AlignLeft | Qt::AlignVCenter;
}

bool fitsIn(const QRectF& box, const QFont& font, int flags, const QString& text) {
    const QRectF need = QFontMetricsF(font).boundingRect(box, flags, text);
    return need.width() <= box.width() + 0.01 && need.height() <= box.height() + 0.01;
}

// Draws a text in its box: on one line when it fits, wrapped when the box has
// room for more lines, else set smaller until it fits.
void drawInBox(QPainter& painter, const QRectF& cell, QFont font, Align align, const QString& text,
               const QColor& colour) {
    if (text.isEmpty()) return;
    // Clear of the rules a box may share an edge with.
    const QRectF box =
        cell.width() > 2 * kTextInsetUnits ? cell.adjusted(kTextInsetUnits, 0, -kTextInsetUnits, 0) : cell;
    const int flags = alignmentFlags(align);
    const int base = font.pixelSize();
    const int smallest = std::max(1, int(base * kSmallestFontShare));
    int chosenFlags = flags;
    for (int size = base; size >= smallest; --size) {
        font.setPixelSize(size);
        if (fitsIn(box, font, flags, text)) break;
        if (fitsIn(box, font, flags | Qt::TextWordWrap, text)) {
            chosenFlags = flags | Qt::TextWordWrap;
            break;
        }
        if (size == smallest) chosenFlags = flags | Qt::TextWrapAnywhere;
    }
    painter.setFont(font);
    painter.setPen(colour);
    painter.drawText(box, chosenFlags | Qt::TextDontClip, text);
}

// True when `name` is among the "|col|col|" names.
bool namedIn(const QString& names, const QString& name) {
    return names.contains(QLatin1Char('|') + name + QLatin1Char('|'), Qt::CaseInsensitive);
}

// The rules of the layout with `rows` item rows, stroked as one path: where
// rules overlap (the left border runs down beside the item rows' own) the
// overlap is inked once, not darker.
void strokeRules(QPainter& painter, const PrintLayout& layout, int rows) {
    QPainterPath path;
    for (const LayoutLine& l : layout.lines) {
        const int repeats = l.band == Band::Detail ? rows : 1;
        for (int r = 1; r <= repeats; ++r) {
            const double top = bandTop(layout, l.band, r, rows);
            path.moveTo(l.x1, top + l.y1);
            path.lineTo(l.x2, top + l.y2);
        }
    }
    painter.strokePath(path, QPen(Qt::black, kRuleWidthMm / layout.unitMm, Qt::SolidLine, Qt::FlatCap));
}

class PageRenderer {
public:
    PageRenderer(QPainter& painter, const DataStore& form, const PrintOptions& options)
        : painter_(painter), form_(form), def_(form.def()), options_(options) {}

    void paint() {
        if (!def_.layout) return;
        const PrintLayout& layout = *def_.layout;
        const int rows = itemRowsOf(layout, form_);
        if (options_.mode == PrintMode::WholeForm) drawRules(layout, rows);
        for (const LayoutObject& o : layout.objects) {
            if (o.band == Band::Detail) {
                for (int r = 1; r <= rows; ++r) drawObject(layout, o, r, rows);
            } else {
                drawObject(layout, o, valueRowOf(o.band), rows);
            }
        }
    }

private:
    // The header takes its values from the first row; the closing area from
    // the last (the issuer there is the last row's).
    int valueRowOf(Band band) const { return band == Band::Summary ? std::max(form_.rowCount(), 1) : 1; }

    bool drawn(const LayoutObject& o, ObjectKind kind) const {
        if (kind == ObjectKind::Unknown) return false;
        if (kind == ObjectKind::Text) return options_.mode == PrintMode::WholeForm && !o.hidden;
        if (namedIn(options_.visibleDynamic, o.name)) return true;
        if (o.hidden) return false;
        return options_.mode == PrintMode::WholeForm || form_.objectTag(o.name).contains(kTagPrintVisible);
    }

    QString textOf(const LayoutObject& o, ObjectKind kind, int row) const {
        switch (kind) {
        case ObjectKind::Text: {
            QString t = form_.hasObject(o.name) ? form_.objectText(o.name) : def_.text(o.name)->text;
            return t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        }
        case ObjectKind::Column: return row <= form_.rowCount() ? form_.displayText(row, o.name) : QString();
        case ObjectKind::Computed:
            if (form_.rowCount() < 1) return QString();
            return formatValue(form_.computed(o.name, std::min(row, form_.rowCount())),
                               def_.computedField(o.name)->format);
        case ObjectKind::Unknown: break;
        }
        return QString();
    }

    QColor colourOf(const LayoutObject& o, ObjectKind kind, int row) const {
        if (kind == ObjectKind::Text || row > form_.rowCount()) return Qt::black;
        return hostColour(form_.textColor(row, o.name));
    }

    void drawObject(const PrintLayout& layout, const LayoutObject& o, int row, int rows) {
        const ObjectKind kind = kindOf(def_, o.name);
        if (!drawn(o, kind)) return;
        drawInBox(painter_, boxInUnits(layout, o, row, rows), layoutFont(layout, o), o.align, textOf(o, kind, row),
                  colourOf(o, kind, row));
    }

    void drawRules(const PrintLayout& layout, int rows) { strokeRules(painter_, layout, rows); }

    QPainter& painter_;
    const DataStore& form_;
    const FormDef& def_;
    const PrintOptions& options_;
};

// Makes the painter draw in layout units with the layout's top-left corner at
// its place on the paper, shifted by the offset.
void enterLayoutUnits(QPainter& painter, const PrintLayout& layout, const PrintOffsetMm& offset) {
    const QPaintDevice* device = painter.device();
    const double dotsPerMmX = (device ? device->logicalDpiX() : 96) / 25.4;
    const double dotsPerMmY = (device ? device->logicalDpiY() : 96) / 25.4;
    painter.translate((layout.leftMm + offset.right) * dotsPerMmX, (layout.topMm + offset.down) * dotsPerMmY);
    painter.scale(layout.unitMm * dotsPerMmX, layout.unitMm * dotsPerMmY);
}

// A value's name for the test page: its label up to any explanation after a colon.
QString labelOf(const FormDef* def, const QString& name) {
    QString label = name;
    if (const FormColumn* c = def->column(name))
        label = columnLabelOf(*c);
    else if (const ComputedField* f = def->computedField(name))
        label = f->tag.section(QLatin1Char('|'), 0, 0);
    return label.section(QLatin1Char(':'), 0, 0).section(QStringLiteral("："), 0, 0);
}

} // namespace

QString printFontFamily(const QString& layoutFamily) {
    if (layoutFamily == QStringLiteral("宋体")) return QStringLiteral("AR PL UMing CN");
    if (layoutFamily == QStringLiteral("黑体")) return QStringLiteral("WenQuanYi Zen Hei");
    return layoutFamily;
}

const PrintLayout& invoicePrintLayout() { return *formDef(kPrintFormName)->layout; }

QPageSize paperOf(const PrintLayout& layout) {
    return QPageSize(QSizeF(layout.paperWidthMm, layout.paperHeightMm), QPageSize::Millimeter,
                     QStringLiteral("发票纸 %1×%2毫米").arg(layout.paperWidthMm).arg(layout.paperHeightMm),
                     QPageSize::ExactMatch);
}

QRectF objectBoxMm(const PrintLayout& layout, const LayoutObject& object, int itemRow, int itemRows,
                   const PrintOffsetMm& offset) {
    const QRectF u = boxInUnits(layout, object, itemRow, std::max(itemRows, layout.paperItemRows));
    return QRectF(layout.leftMm + offset.right + u.x() * layout.unitMm,
                  layout.topMm + offset.down + u.y() * layout.unitMm, u.width() * layout.unitMm,
                  u.height() * layout.unitMm);
}

void renderInvoicePage(QPainter& painter, const DataStore& form, const PrintOptions& options) {
    if (!form.def().layout) return;
    painter.save();
    enterLayoutUnits(painter, *form.def().layout, options.offset);
    PageRenderer(painter, form, options).paint();
    painter.restore();
}

void renderTestPage(QPainter& painter, const PrintLayout& layout, const PrintOffsetMm& offset) {
    const FormDef* def = formDef(kPrintFormName);
    const int rows = layout.paperItemRows;
    painter.save();
    enterLayoutUnits(painter, layout, offset);
    strokeRules(painter, layout, rows);

    // The layout's outer edge, and a cross at each corner to measure from.
    const double rule = kRuleWidthMm / layout.unitMm;
    const double height = layout.headerHeight + double(rows) * layout.detailHeight + layout.summaryHeight;
    const QRectF frame(0, 0, layout.width, height);
    painter.setPen(QPen(Qt::black, rule, Qt::DashLine, Qt::FlatCap));
    painter.drawRect(frame);
    painter.setPen(QPen(Qt::black, rule, Qt::SolidLine, Qt::FlatCap));
    const double arm = 5.0 / layout.unitMm;
    for (const QPointF& c : {frame.topLeft(), frame.topRight(), frame.bottomLeft(), frame.bottomRight()}) {
        painter.drawLine(QPointF(c.x() - arm, c.y()), QPointF(c.x() + arm, c.y()));
        painter.drawLine(QPointF(c.x(), c.y() - arm), QPointF(c.x(), c.y() + arm));
    }

    // Every value's box, outlined, with the name of what prints there in small
    // type at its top left.
    LayoutObject caption;
    caption.fontFamily = QStringLiteral("宋体");
    caption.fontSize = 6;
    const QFont small = layoutFont(layout, caption);
    const QColor grey(110, 110, 110);
    for (const LayoutObject& o : layout.objects) {
        if (o.hidden || !def || def->text(o.name)) continue;
        const int repeats = o.band == Band::Detail ? rows : 1;
        for (int r = 1; r <= repeats; ++r) {
            const QRectF box = boxInUnits(layout, o, r, rows);
            painter.setPen(QPen(grey, rule / 2, Qt::DotLine));
            painter.drawRect(box);
            if (r > 1) continue;
            painter.setFont(small);
            painter.drawText(box.adjusted(4, 2, -4, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip,
                             labelOf(def, o.name));
        }
    }

    // Under the frame: what the page is and the offset it was printed with.
    LayoutObject title;
    title.fontFamily = QStringLiteral("黑体");
    title.fontSize = 10;
    const QString text = QStringLiteral("打印位置测试页    向下偏移 %1 毫米    向右偏移 %2 毫米")
                             .arg(offset.down, 0, 'f', 1)
                             .arg(offset.right, 0, 'f', 1);
    drawInBox(painter, QRectF(0, height + 24, layout.width, 64), layoutFont(layout, title), Align::Center, text,
              Qt::black);
    painter.restore();
}

namespace {

bool failWith(QString* error, const QString& text) {
    if (error) *error = text;
    return false;
}

// What every paged print checks before it paints.
bool checkPrintable(const DataStore& form, int copies, QString* error) {
    if (copies < 1) return failWith(error, QStringLiteral("打印份数必须大于0！"));
    if (!form.def().layout) return failWith(error, QStringLiteral("%1 不是打印格式，不能打印！").arg(form.name()));
    if (!fitsOneSheet(*form.def().layout, form))
        return failWith(error, itemLinesRefusal(*form.def().layout, form.rowCount()));
    return true;
}

// One page a copy on a painter already begun on `device`; ends the painter.
bool paintCopies(QPainter& painter, QPagedPaintDevice& device, const DataStore& form, int copies,
                 const PrintOptions& options, QString* error) {
    for (int copy = 0; copy < copies; ++copy) {
        if (copy > 0 && !device.newPage()) {
            painter.end();
            return failWith(error, QStringLiteral("打印设备无法换页，只打印了%1份！").arg(copy));
        }
        renderInvoicePage(painter, form, options);
    }
    if (!painter.end()) return failWith(error, QStringLiteral("打印未能完成！"));
    return true;
}

} // namespace

bool printInvoicePages(QPagedPaintDevice& device, const DataStore& form, int copies, const PrintOptions& options,
                       QString* error) {
    if (!checkPrintable(form, copies, error)) return false;
    QPainter painter;
    if (!painter.begin(&device)) return failWith(error, QStringLiteral("打印设备无法使用，不能打印！"));
    return paintCopies(painter, device, form, copies, options, error);
}

bool setInvoicePaper(QPagedPaintDevice& device, const PrintLayout& layout, QString* error) {
    const QPageSize paper = paperOf(layout);
    // A printer that cannot take the size keeps its own paper and says so only
    // in its answer; its layout is read back as well.
    if (!device.setPageLayout(QPageLayout(paper, QPageLayout::Portrait, QMarginsF(0, 0, 0, 0))) ||
        !device.pageLayout().pageSize().isEquivalentTo(paper))
        return failWith(error, paperRefusal(layout));
    return true;
}

bool fitsOneSheet(const PrintLayout& layout, const DataStore& form) {
    // A form laid out for paper is padded to the paper's rows; one read
    // straight from the database has a row a line (one for no line).
    return form.rowCount() <= layout.paperItemRows;
}

QString itemLinesRefusal(const PrintLayout& layout, int lines) {
    return QStringLiteral("该发票有%1行项目，一张发票纸只能打印%2行，没有打印！\r\n"
                          "每张发票纸都印有自己的号码，不能接着打印到下一张上。"
                          "请作废该发票，将项目分开重新开具，每张发票不超过%2行。")
        .arg(lines)
        .arg(layout.paperItemRows);
}

QString paperRefusal(const PrintLayout& layout, const QString& printer) {
    const QString who = printer.isEmpty() ? QStringLiteral("打印机") : QStringLiteral("打印机“%1”").arg(printer);
    return QStringLiteral("%1不能使用 %2 × %3 毫米的发票纸，没有打印！请在打印机属性中添加这个尺寸的自定义纸张，"
                          "或选择其他打印机。")
        .arg(who, QString::number(layout.paperWidthMm), QString::number(layout.paperHeightMm));
}

bool printInvoiceToPdf(const DataStore& form, const QString& file, int copies, const PrintOptions& options,
                       QString* error) {
    if (!checkPrintable(form, copies, error)) return false;
    return writePdfFile(
        file,
        [&](QPdfWriter& writer, QString* failure) {
            if (form.rowCount() > 0)
                writer.setTitle(QStringLiteral("发票 %1 %2")
                                    .arg(form.getString(1, QStringLiteral("ptfp_fpk_fpdm")),
                                         form.getString(1, QStringLiteral("ptfp_fpk_fphm"))));
            if (!setInvoicePaper(writer, *form.def().layout, failure)) return false;
            QPainter painter;
            if (!painter.begin(&writer))
                return failWith(failure, QStringLiteral("PDF文件无法写入：%1").arg(QFileInfo(file).absoluteFilePath()));
            return paintCopies(painter, writer, form, copies, options, failure);
        },
        error);
}

} // namespace fp
