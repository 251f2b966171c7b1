#include "ui/grid_view.h"

#include "data_model/data_store.h"
#include "host/controls.h"
#include "host/form_control.h"
#include "ui/form_editing.h"
#include "ui/form_table_model.h"
#include "ui/key_map.h"
#include "ui/ui_metrics.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

namespace fp::ui {

namespace {

struct Cell {
    int row = 0;
    QString column;
    bool operator==(const Cell& o) const { return row == o.row && column.compare(o.column, Qt::CaseInsensitive) == 0; }
};
Cell cellOf(const FormControl& c) { return {c.currentRow, c.currentColumn}; }

// The column a summary field adds up: "sum(je for all)" -> "je".
QString summedColumn(const ComputedField& f) {
    static const QRegularExpression re(QStringLiteral("^\\s*sum\\s*\\(\\s*(\\w+)\\s+for\\s+all\\s*\\)\\s*$"),
                                       QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(f.expression);
    return m.hasMatch() ? m.captured(1) : QString();
}

const QString kTotalField = QStringLiteral("cpt_amount");
const QString kTotalCaption = QStringLiteral("hj_t");

} // namespace

// ---- GridTable ----

GridTable::GridTable(FormControl& control, QWidget* parent) : QTableView(parent), control_(control) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                    QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    setTabKeyNavigation(true);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setFocusPolicy(Qt::StrongFocus);
    horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    horizontalHeader()->setHighlightSections(false);
    verticalHeader()->setHighlightSections(false);
    verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
}

void GridTable::keyPressEvent(QKeyEvent* event) {
    if (isEnterKey(*event)) {
        pressKey(control_, keys::Enter, hostKeyFlags(*event));
        event->accept();
        return;
    }
    if (isTabKey(*event)) {
        const Cell before = cellOf(control_);
        pressKey(control_, keys::Tab, hostKeyFlags(*event));
        if (cellOf(control_) == before && !control_.hasPendingEdit() && onLeave) onLeave(true);
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Backtab) {
        const QModelIndex cur = currentIndex();
        if ((!cur.isValid() || (cur.row() == 0 && cur.column() == 0)) && onLeave) {
            onLeave(false);
            event->accept();
            return;
        }
    }
    QTableView::keyPressEvent(event);
}

void GridTable::inputMethodEvent(QInputMethodEvent* event) {
    // Text from an input method opens the cell's editor like a typed letter and
    // goes into it.
    if (state() != EditingState && !event->commitString().isEmpty() && currentIndex().isValid()) {
        edit(currentIndex());
        QWidget* editor = QApplication::focusWidget();
        if (state() == EditingState && editor && editor != this) {
            QApplication::sendEvent(editor, event);
            return;
        }
    }
    QTableView::inputMethodEvent(event);
}

// ---- FormItemDelegate ----

FormItemDelegate::FormItemDelegate(FormControl& control, FormTableModel& model, QObject* parent)
    : QStyledItemDelegate(parent), control_(control), model_(model) {}

QWidget* FormItemDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const {
    const FormColumn* c = model_.formColumn(index.column());
    DataStore* store = model_.store();
    if (!c || !store) return nullptr;
    const int row = index.row() + 1;
    const QString column = c->name;
    FormControl* control = &control_;

    if (c->edit == EditStyle::CodeTable || c->edit == EditStyle::DropDown) {
        auto* box = new FieldCombo(parent);
        box->setFrame(false);
        const bool typed = dropDownTakesTypedText(*c);
        box->setEditable(typed);
        box->setChoices(choiceTexts(*store, *c));
        if (typed) {
            if (c->width > 0) box->lineEdit()->setMaxLength(c->width);
            connect(box->lineEdit(), &QLineEdit::textEdited, box,
                    [control, row, column](const QString& t) { typeText(*control, row, column, t); });
        }
        // A choice from the list is accepted at once, as a typed text is when the cell is left.
        connect(box, &QComboBox::textActivated, box, [control, row, column](const QString& t) {
            typeText(*control, row, column, t);
            leaveCell(*control);
        });
        return box;
    }
    auto* line = new QLineEdit(parent);
    line->setFrame(false);
    if (c->type == ColType::Text && c->width > 0) line->setMaxLength(c->width);
    connect(line, &QLineEdit::textEdited, line,
            [control, row, column](const QString& t) { typeText(*control, row, column, t); });
    return line;
}

void FormItemDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    const QString text = model_.editText(index);
    if (auto* box = qobject_cast<FieldCombo*>(editor)) {
        box->showText(text);
        if (QLineEdit* le = box->lineEdit()) le->selectAll();
    } else if (auto* line = qobject_cast<QLineEdit*>(editor)) {
        if (line->text() != text) line->setText(text);
    }
}

void FormItemDelegate::setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const {
    // What was typed is the control's pending edit already; leaving the cell accepts it.
    leaveCell(control_);
}

bool FormItemDelegate::eventFilter(QObject* watched, QEvent* event) {
    auto* editor = qobject_cast<QWidget*>(watched);
    if (!editor) return QStyledItemDelegate::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // The window's menu keys are not the editor's: a line edit would take some of
        // them (Ctrl+K, Ctrl+E) for its own editing.
        if (isCommandKey && isCommandKey(*static_cast<QKeyEvent*>(event))) {
            event->ignore();
            return true;
        }
        break;
    case QEvent::KeyPress: {
        auto* ke = static_cast<QKeyEvent*>(event);
        if (auto* box = qobject_cast<QComboBox*>(editor); box && box->view() && box->view()->isVisible()) break;
        if (!isEnterKey(*ke) && !isTabKey(*ke)) {
            if (ke->key() == Qt::Key_Escape) control_.discardEdit(); // the editor closes without its text
            break;
        }
        QPointer<QWidget> ed(editor);
        QWidget* viewport = editor->parentWidget();
        auto* table = qobject_cast<GridTable*>(viewport ? viewport->parentWidget() : nullptr);
        const Cell before = cellOf(control_);
        pressKey(control_, isEnterKey(*ke) ? keys::Enter : keys::Tab, hostKeyFlags(*ke));
        if (control_.hasPendingEdit()) {
            // The text was refused (the control has said why): stay in the editor.
            if (ed) ed->setFocus();
            return true;
        }
        if (ed && ed->isVisible()) emit closeEditor(ed, QAbstractItemDelegate::NoHint);
        if (isTabKey(*ke) && cellOf(control_) == before && table && table->onLeave) table->onLeave(true);
        return true;
    }
    case QEvent::FocusOut: {
        // A message box or the editor's own list taking the focus does not end the edit.
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) return false;
        break;
    }
    default: break;
    }
    return QStyledItemDelegate::eventFilter(watched, event);
}

// ---- GridView ----

GridView::GridView(FormControl& control, QWidget* parent) : QWidget(parent), control_(control) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    table_ = new GridTable(control_, this);
    model_ = new FormTableModel(control_, this);
    table_->setModel(model_);
    delegate_ = new FormItemDelegate(control_, *model_, table_);
    table_->setItemDelegate(delegate_);
    table_->onLeave = [this](bool forward) {
        if (onLeave) onLeave(forward);
    };
    layout->addWidget(table_, 1);

    summary_ = new QWidget(this);
    summary_->setObjectName(QStringLiteral("summary"));
    sumCaption_ = new QLabel(summary_);
    sumCaption_->setObjectName(QStringLiteral("hj_t"));
    sumCaption_->setAlignment(Qt::AlignCenter);
    sumValue_ = new QLabel(summary_);
    sumValue_->setObjectName(kTotalField);
    sumValue_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(summary_);

    connect(table_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
        if (syncing_ || !current.isValid()) return;
        const QString column = model_->columnName(current.column());
        goToCell(control_, current.row() + 1, column);
    });
    // A reset of the model (rows added or removed) loses the view's current cell.
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { followCurrentCell(); });
    connect(table_->horizontalHeader(), &QHeaderView::sectionResized, this, [this] { placeSummary(); });
    connect(table_->horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { placeSummary(); });
    mirror();
}

QWidget* GridView::focusTarget() const { return table_; }

void GridView::setCommandKeys(std::function<bool(const QKeyEvent&)> isCommandKey) {
    delegate_->isCommandKey = std::move(isCommandKey);
}

void GridView::mirror() {
    model_->refresh();
    if (sizedFor_ != control_.dataObject()) sizeColumns();

    DataStore* s = control_.store();
    const ComputedField* total = s ? s->def().computedField(kTotalField) : nullptr;
    summary_->setVisible(total != nullptr);
    if (total) {
        sumColumn_ = summedColumn(*total);
        const TextObject* caption = s->def().text(kTotalCaption);
        sumCaption_->setText(caption ? caption->text : QString());
        const QString value = s->rowCount() > 0 ? formatValue(s->computed(kTotalField, 1), total->format) : QString();
        sumValue_->setText(value);
        const int colour = s->rowCount() > 0 ? s->textColor(1, kTotalField) : kColourBlack;
        QPalette pal = sumValue_->palette();
        pal.setColor(QPalette::WindowText,
                     colour == kColourBlack ? palette().color(QPalette::WindowText) : colorFromPacked(colour));
        sumValue_->setPalette(pal);
        summary_->setFixedHeight(QFontMetrics(font()).height() + 10);
        placeSummary();
    }
    followCurrentCell();
}

void GridView::followCurrentCell() {
    const int row = control_.currentRow - 1;
    const int column = model_->modelColumn(control_.currentColumn);
    if (row < 0 || row >= model_->rowCount() || column < 0) return;
    const QModelIndex idx = model_->index(row, column);
    if (table_->currentIndex() != idx) {
        syncing_ = true;
        table_->setCurrentIndex(idx);
        syncing_ = false;
    }
    table_->scrollTo(idx);
}

// Column widths fit the window's grid without much scrolling: an item name ten
// characters wide, a code-table name seven, amounts up to -9,999,999,999.99, other
// text five and a half. A heading line up to a third wider than that widens
// its column; a longer one is broken into lines of about equal length.
void GridView::sizeColumns() {
    sizedFor_ = control_.dataObject();
    const QFontMetrics cells(table_->font());
    const QFontMetrics heads(table_->horizontalHeader()->font());
    const int han = cells.horizontalAdvance(QChar(0x4E2D));
    const int cellPad = 12;
    const int headPad =
        2 * table_->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, table_->horizontalHeader()) + 8;
    for (int i = 0; i < model_->columnCount(); ++i) {
        const FormColumn* c = model_->formColumn(i);
        if (!c) continue;
        int width = 0;
        switch (c->edit) {
        case EditStyle::DropDown: width = 10 * han; break;
        case EditStyle::CodeTable: width = 7 * han; break;
        default:
            if (c->type == ColType::Decimal2 || c->type == ColType::Whole)
                // The largest amount an invoice carries, never clipped.
                width = std::max(cells.horizontalAdvance(QStringLiteral("-9,999,999,999.99")), 4 * han);
            else
                width = std::min(11 * han / 2, std::max(4 * han, c->width * cells.horizontalAdvance(QLatin1Char('0'))));
            break;
        }
        width += cellPad;
        const QStringList given = headingText(c->label).split(QLatin1Char('\n'));
        for (const QString& line : given) {
            const int need = heads.horizontalAdvance(line.trimmed()) + headPad;
            if (need <= width * 4 / 3) width = std::max(width, need);
        }
        QStringList lines;
        for (const QString& line : given) {
            const QString text = line.trimmed();
            const int need = heads.horizontalAdvance(text) + headPad;
            if (need <= width) {
                lines << text;
                continue;
            }
            const int parts = (need + width - 1) / width;
            const int per = int((text.size() + parts - 1) / parts);
            for (int at = 0; at < text.size(); at += per) lines << text.mid(at, per).trimmed();
        }
        for (const QString& l : lines) width = std::max(width, heads.horizontalAdvance(l) + headPad);
        const QString shown = lines.join(QLatin1Char('\n'));
        if (shown != headingText(c->label)) model_->setShownHeading(i, shown);
        table_->setColumnWidth(i, width);
    }
    table_->verticalHeader()->setDefaultSectionSize(cells.height() + 10);
    table_->verticalHeader()->setMinimumSectionSize(cells.height() + 6);
}

void GridView::placeSummary() {
    const QHeaderView* header = table_->horizontalHeader();
    const int left = table_->frameWidth() + table_->verticalHeader()->width();
    const int h = summary_->height();
    // The caption under the row numbers and the first column, the total under
    // the column it adds up.
    const int firstEnd =
        model_->columnCount() > 0 ? left + header->sectionViewportPosition(0) + header->sectionSize(0) : left;
    sumCaption_->setGeometry(0, 0, std::max(firstEnd, sumCaption_->sizeHint().width() + 8), h);
    const int column = model_->modelColumn(sumColumn_);
    if (column < 0) {
        sumValue_->setGeometry(left, 0, std::max(0, summary_->width() - left), h);
        return;
    }
    // The total is never cut: wider than its column, it reaches further left.
    const int need = sumValue_->fontMetrics().horizontalAdvance(sumValue_->text()) + 8;
    const int w = std::max(header->sectionSize(column), need);
    const int x = left + header->sectionViewportPosition(column) + header->sectionSize(column) - w;
    sumValue_->setGeometry(x, 0, std::max(0, w - 4), h);
    sumValue_->setVisible(x + w > left && x < table_->width());
}

} // namespace fp::ui
