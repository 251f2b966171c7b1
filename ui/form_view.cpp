#include "ui/form_view.h"

#include "data_model/data_store.h"
#include "host/controls.h"
#include "host/form_control.h"
#include "ui/form_editing.h"
#include "ui/key_map.h"
#include "ui/ui_metrics.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QTableView>

namespace fp::ui {

namespace {

// Focus changes that do not end an edit: a list popping up, another window
// (a message box) becoming active.
bool passingFocus(const QEvent* e) {
    const auto reason = static_cast<const QFocusEvent*>(e)->reason();
    return reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason;
}

const FormDef* definitionOf(const FormControl& c) {
    if (const DataStore* s = c.store()) return &s->def();
    return formDef(c.dataObject());
}

} // namespace

FormView::FormView(FormControl& control, QWidget* parent) : QScrollArea(parent), control_(control) {
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFocusPolicy(Qt::NoFocus);
    mirror();
}

QStringList FormView::columns() const {
    QStringList l;
    for (const auto& f : fields_) l << f.column;
    return l;
}

FormView::Field* FormView::fieldFor(const QString& column) {
    for (auto& f : fields_)
        if (f.column.compare(column, Qt::CaseInsensitive) == 0) return &f;
    return nullptr;
}

FormView::Field* FormView::fieldOf(const QObject* widget) {
    for (auto& f : fields_)
        if (f.editor == widget || (f.combo && f.combo->lineEdit() == widget)) return &f;
    return nullptr;
}

QWidget* FormView::editorFor(const QString& column) const {
    for (const auto& f : fields_)
        if (f.column.compare(column, Qt::CaseInsensitive) == 0) return f.editor;
    return nullptr;
}

QLabel* FormView::labelFor(const QString& column) const {
    for (const auto& f : fields_)
        if (f.column.compare(column, Qt::CaseInsensitive) == 0) return f.label;
    return nullptr;
}

QWidget* FormView::focusTarget() const {
    if (QWidget* w = editorFor(control_.currentColumn)) return w;
    return fields_.empty() ? nullptr : fields_.front().editor;
}

void FormView::build() {
    builtFor_ = control_.dataObject();
    followed_.clear();
    fields_.clear();
    if (QWidget* old = takeWidget()) old->deleteLater();
    body_ = new QWidget;
    body_->setAutoFillBackground(false);
    auto* grid = new QGridLayout(body_);
    grid->setContentsMargins(8, 6, 8, 6);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(7);

    const FormDef* def = definitionOf(control_);
    // Each field's place: line, pair, and the pairs it spans.
    struct Place {
        const FormColumn* column;
        int line, pair, span;
    };
    std::vector<Place> shown;
    if (def && !def->screenLines.empty()) {
        // As the paper reads; the last field of a short line takes the rest of it.
        int line = 0;
        for (const QStringList& names : def->screenLines) {
            int pair = 0;
            for (const QString& name : names) {
                const FormColumn* c = def->column(name);
                if (!c) continue;
                const bool last = name == names.last();
                shown.push_back({c, line, pair, last ? kPairsPerLine - pair : 1});
                ++pair;
            }
            ++line;
        }
    } else if (def) {
        std::vector<const FormColumn*> visible;
        for (const auto& c : def->columns) {
            if (c.visible) visible.push_back(&c);
            for (const auto& v : def->views)
                if (v.visible && v.viewOf.compare(c.name, Qt::CaseInsensitive) == 0) visible.push_back(&v);
        }
        for (size_t i = 0; i < visible.size(); ++i)
            shown.push_back({visible[i], int(i) / kPairsPerLine, int(i) % kPairsPerLine, 1});
    }

    FormControl* control = &control_;
    QWidget* previous = nullptr;
    int lines = 0;
    for (const Place& place : shown) {
        const FormColumn& c = *place.column;
        Field f;
        f.column = c.name;
        f.label = new QLabel(headingText(c.label).replace(QLatin1Char('\n'), QLatin1Char(' ')), body_);
        f.label->setObjectName(c.name + QStringLiteral("_t"));
        f.label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        const QString column = c.name;
        if (c.edit == EditStyle::CodeTable || c.edit == EditStyle::DropDown) {
            auto* box = new FieldCombo(body_);
            const bool typed = dropDownTakesTypedText(c);
            box->setEditable(typed);
            if (typed) {
                if (c.width > 0) box->lineEdit()->setMaxLength(c.width);
                connect(box->lineEdit(), &QLineEdit::textEdited, this,
                        [control, column](const QString& t) { typeText(*control, 1, column, t); });
            }
            // A choice from the list is accepted at once; typed text when the field is left.
            connect(box, &QComboBox::textActivated, this, [this, control, column](const QString& t) {
                typeText(*control, 1, column, t);
                busy_ = true;
                leaveCell(*control);
                busy_ = false;
            });
            f.combo = box;
            f.editor = box;
        } else {
            auto* line = new QLineEdit(body_);
            if (c.type == ColType::Text && c.width > 0) line->setMaxLength(c.width);
            if (c.edit == EditStyle::Masked) line->setEchoMode(QLineEdit::Password);
            connect(line, &QLineEdit::textEdited, this,
                    [control, column](const QString& t) { typeText(*control, 1, column, t); });
            f.line = line;
            f.editor = line;
        }
        f.editor->setObjectName(c.name);
        f.editor->setToolTip(columnLabelOf(c));
        f.editor->installEventFilter(this);
        f.label->setBuddy(f.editor);
        grid->addWidget(f.label, place.line, place.pair * 2);
        grid->addWidget(f.editor, place.line, place.pair * 2 + 1, 1, place.span * 2 - 1);
        lines = std::max(lines, place.line + 1);
        if (previous) QWidget::setTabOrder(previous, f.editor);
        previous = f.editor;
        fields_.push_back(f);
    }
    for (int pair = 0; pair < kPairsPerLine; ++pair) grid->setColumnStretch(pair * 2 + 1, 1);
    grid->setRowStretch(lines, 1);
    setWidget(body_);
}

void FormView::showValue(Field& f) {
    // What the user is typing stays until it is accepted.
    const bool typing = control_.hasPendingEdit() && f.editor->hasFocus() &&
                        control_.currentColumn.compare(f.column, Qt::CaseInsensitive) == 0;
    if (typing) return;
    const DataStore* s = control_.store();
    QString text;
    if (s && s->rowCount() >= 1)
        text = f.line && f.line->hasFocus() ? editTextOf(*s, 1, f.column) : s->displayText(1, f.column);
    if (f.line) {
        if (f.line->text() != text) {
            f.line->setText(text);
            f.line->setCursorPosition(0);
        }
    } else if (f.combo) {
        f.combo->showText(text);
    }
}

void FormView::mirror() {
    if (builtFor_ != control_.dataObject() || !body_) build();
    DataStore* s = control_.store();
    const bool hasRow = s && s->rowCount() >= 1;
    const bool formReadOnly = control_.readOnly() || !s || s->readOnly();
    const QPalette base = body_->palette();

    for (auto& f : fields_) {
        const FormColumn* c = s ? s->def().column(f.column) : nullptr;
        if (f.combo && c && s) {
            // A list without retrieval arguments is read when it is first shown.
            if (c->edit == EditStyle::DropDown)
                if (DataStore* list = s->child(f.column);
                    list && list->def().arguments.empty() && list->rowCount() == 0)
                    (void)list->retrieve({}); // a list that cannot be read shows no rows
            f.combo->setChoices(choiceTexts(*s, *c));
            if (c->edit == EditStyle::DropDown)
                if (const DataStore* list = s->child(f.column)) showListColumns(f, *list, *c);
        }
        showValue(f);

        const bool readOnly = formReadOnly || !hasRow || s->isProtected(1, f.column);
        if (f.line && f.line->isReadOnly() != readOnly) f.line->setReadOnly(readOnly);
        if (f.combo) f.combo->setReadOnly(readOnly);

        const int colour = hasRow ? s->textColor(1, f.column) : kColourBlack;
        QPalette pal = f.editor->palette();
        const QColor textColour = colour == kColourBlack ? base.color(QPalette::Text) : colorFromPacked(colour);
        for (auto group : {QPalette::Active, QPalette::Inactive}) {
            pal.setColor(group, QPalette::Text, textColour);
            pal.setColor(group, QPalette::ButtonText, textColour);
            pal.setColor(group, QPalette::Base, readOnly ? readOnlyFieldColour() : base.color(group, QPalette::Base));
            // The style lightens a button's colour: a list box takes a darker shade to look the same.
            pal.setColor(group, QPalette::Button,
                         readOnly ? readOnlyFieldColour().darker(106) : base.color(group, QPalette::Button));
        }
        if (pal != f.editor->palette()) f.editor->setPalette(pal);
    }

    // The focus follows the current column when the control moved it (Tab,
    // Enter, a handler), not when the user is moving it.
    const bool moved = control_.currentColumn.compare(followed_, Qt::CaseInsensitive) != 0;
    followed_ = control_.currentColumn;
    QWidget* target = focusTarget();
    QWidget* focus = QApplication::focusWidget();
    if (moved && target && focus && focus != target && !target->isAncestorOf(focus) && body_->isAncestorOf(focus)) {
        syncing_ = true;
        target->setFocus(Qt::TabFocusReason);
        syncing_ = false;
    }
}

// A list of several columns (the payers: name, code, document type and
// number) opens as a table under the field; a click on a heading is the
// list's own to handle (it sorts the list).
void FormView::showListColumns(Field& f, const DataStore& list, const FormColumn& c) {
    QStringList names{c.dropDown.displayColumn};
    for (const auto& lc : list.def().columns)
        if (lc.visible && !lc.label.isEmpty() && lc.name.compare(c.dropDown.displayColumn, Qt::CaseInsensitive) != 0)
            names << lc.name;
    if (names.size() < 2) return;
    auto* model = qobject_cast<QStandardItemModel*>(f.combo->model());
    if (!model) return;
    auto* table = qobject_cast<QTableView*>(f.combo->view());
    if (!table) {
        table = new QTableView(f.combo);
        table->setObjectName(f.column + QStringLiteral("_list"));
        table->setSelectionBehavior(QAbstractItemView::SelectRows);
        table->setSelectionMode(QAbstractItemView::SingleSelection);
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->verticalHeader()->hide();
        table->setShowGrid(false);
        table->setWordWrap(false);
        table->horizontalHeader()->setSectionsClickable(true);
        table->horizontalHeader()->setHighlightSections(false);
        table->horizontalHeader()->setStretchLastSection(true);
        f.combo->setView(table);
        FormControl* control = &control_;
        const QString column = f.column;
        connect(table->horizontalHeader(), &QHeaderView::sectionClicked, this, [this, control, column](int section) {
            DataStore* s = control->store();
            DataStore* l = s ? s->child(column) : nullptr;
            auto* m = qobject_cast<QStandardItemModel*>(fieldFor(column)->combo->model());
            if (!l || !m || !control->onDropDownClick) return;
            const QString name = m->headerData(section, Qt::Horizontal, Qt::UserRole).toString();
            control->onDropDownClick(l, QStringLiteral("header"), name + QStringLiteral("_t\t1"));
        });
    }
    if (model->columnCount() != names.size()) model->setColumnCount(int(names.size()));
    for (int j = 0; j < names.size(); ++j) {
        const FormColumn* lc = list.def().column(names[j]);
        const QString heading = lc ? headingText(lc->label) : names[j];
        if (model->headerData(j, Qt::Horizontal).toString() != heading) {
            model->setHeaderData(j, Qt::Horizontal, heading);
            model->setHeaderData(j, Qt::Horizontal, names[j], Qt::UserRole);
        }
    }
    for (int r = 1; r <= list.rowCount() && r <= model->rowCount(); ++r)
        for (int j = 1; j < names.size(); ++j) {
            const QString text = list.displayText(r, names[j]);
            QStandardItem* item = model->item(r - 1, j);
            if (!item) {
                item = new QStandardItem;
                item->setEditable(false);
                model->setItem(r - 1, j, item);
            }
            if (item->text() != text) item->setText(text);
        }
    // The partner a lookup highlighted is the list's current row.
    const int selected = list.getSelectedRow(0);
    if (selected > 0 && table->currentIndex().row() != selected - 1)
        table->setCurrentIndex(model->index(selected - 1, 0));
}

bool FormView::handleKey(Field& f, QKeyEvent* event) {
    const int flags = hostKeyFlags(*event);
    if (isEnterKey(*event) || isTabKey(*event)) {
        const QString before = control_.currentColumn;
        busy_ = true;
        pressKey(control_, isEnterKey(*event) ? keys::Enter : keys::Tab, flags);
        busy_ = false;
        if (control_.hasPendingEdit()) return true; // refused: stay in the field
        if (event->key() == Qt::Key_Tab && control_.currentColumn == before && onLeave) onLeave(true);
        return true;
    }
    if (event->key() == Qt::Key_Backtab) {
        // The path of Tab, backwards: the control's previous editable column.
        busy_ = true;
        const int accepted = leaveCell(control_);
        busy_ = false;
        if (accepted != 1) return true; // refused: stay in the field
        if (control_.currentColumn.compare(f.column, Qt::CaseInsensitive) != 0) goToCell(control_, 1, f.column);
        control_.tabBackward();
        if (control_.currentColumn.compare(f.column, Qt::CaseInsensitive) == 0 && onLeave) onLeave(false);
        return true;
    }
    return false;
}

bool FormView::eventFilter(QObject* watched, QEvent* event) {
    Field* f = fieldOf(watched);
    if (!f) return QScrollArea::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::FocusIn:
        if (!syncing_ && !passingFocus(event)) goToCell(control_, 1, f->column);
        showValue(*f); // the plain value to edit
        if (f->line && static_cast<QFocusEvent*>(event)->reason() == Qt::TabFocusReason) f->line->selectAll();
        break;
    case QEvent::FocusOut:
        if (!busy_ && !passingFocus(event) && control_.hasPendingEdit() &&
            control_.currentColumn.compare(f->column, Qt::CaseInsensitive) == 0) {
            busy_ = true;
            leaveCell(control_);
            busy_ = false;
        }
        if (!passingFocus(event)) showValue(*f); // formatted again
        break;
    case QEvent::ShortcutOverride:
        // The window's menu keys are not the field's: a line edit would take some of
        // them (Ctrl+K, Ctrl+E) for its own editing.
        if (isCommandKey && isCommandKey(*static_cast<QKeyEvent*>(event))) {
            event->ignore();
            return true;
        }
        break;
    case QEvent::KeyPress: {
        auto* ke = static_cast<QKeyEvent*>(event);
        if (f->combo && f->combo->view() && f->combo->view()->isVisible()) break; // the open list takes its keys
        if (handleKey(*f, ke)) return true;
        break;
    }
    default: break;
    }
    return QScrollArea::eventFilter(watched, event);
}

} // namespace fp::ui
