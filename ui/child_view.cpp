#include "ui/child_view.h"

#include "data_model/form_def.h"
#include "host/form_control.h"
#include "ui/form_widget.h"
#include "ui/key_map.h"
#include "ui/print_view.h"
#include "ui/ui_metrics.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTableView>
#include <QToolBar>
#include <algorithm>

namespace fp::ui {

namespace {

// The subwindow's surface; its preferred size is the window's layout size.
class Canvas : public QWidget {
public:
    explicit Canvas(QWidget* parent) : QWidget(parent) {}
    QSize hint;
    QSize sizeHint() const override { return hint; }
};

QStringList itemTexts(const DropDown& dd) {
    QStringList l;
    for (const auto& i : dd.items()) l << i.text;
    return l;
}

QStringList itemTexts(const QComboBox& combo) {
    QStringList l;
    for (int i = 0; i < combo.count(); ++i) l << combo.itemText(i);
    return l;
}

// The print form is shown as it prints (read-only) rather than as fields.
bool showsAsPrinted(const FormControl& form) { return form.dataObject() == QLatin1String("d_fp_integrated_print"); }

// The rows of a list control, read where they are.
class ListModel : public QAbstractTableModel {
public:
    ListModel(const ListView& list, QObject* parent) : QAbstractTableModel(parent), list_(list) {}
    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : list_.rowCount(); }
    int columnCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : int(list_.columns().size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        const int row = index.row() + 1;
        switch (role) {
        case Qt::DisplayRole: return list_.cell(row, index.column());
        case Qt::TextAlignmentRole:
            return int(Qt::AlignVCenter |
                       (list_.columns()[size_t(index.column())].number ? Qt::AlignRight : Qt::AlignLeft));
        case Qt::ForegroundRole: {
            const int c = list_.rowColour(row);
            if (c == 0) return QVariant();
            return QColor(redOf(c), greenOf(c), blueOf(c));
        }
        default: return QVariant();
        }
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (role != Qt::DisplayRole) return QVariant();
        if (orientation == Qt::Vertical) return section + 1;
        return section < int(list_.columns().size()) ? list_.columns()[size_t(section)].title : QString();
    }
    // Shows the list anew after it was replaced or sorted.
    void reload() {
        if (revision_ == list_.revision()) return;
        revision_ = list_.revision();
        beginResetModel();
        endResetModel();
    }
    bool loaded() const { return revision_ == list_.revision(); }

private:
    const ListView& list_;
    int revision_ = -1;
};

PrintView* printViewOf(QWidget* w) {
    auto* scroll = qobject_cast<QScrollArea*>(w);
    return scroll ? qobject_cast<PrintView*>(scroll->widget()) : nullptr;
}

// A rectangle in pixels for a control, at least `minHeight` tall: a control
// shorter than its font needs grows evenly above and below, so that rows of
// labels and fields keep the centres the layout gives them.
QRect pixelRect(const Control& c, int minHeight) {
    int y = toPxY(c.y);
    int h = toPxY(c.height);
    if (h < minHeight) {
        y -= (minHeight - h) / 2;
        h = minHeight;
    }
    return QRect(toPxX(c.x), y, toPxX(c.width), h);
}

void setColours(QWidget* w, const Control& c) {
    QPalette pal = w->palette();
    const QColor back = colorFromPacked(c.backColor);
    const QColor text = colorFromPacked(c.textColor);
    pal.setColor(QPalette::Window, back);
    // The text colour holds while the control is enabled; a disabled control keeps
    // the style's greyed text, so that it shows as disabled.
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::WindowText, text);
        pal.setColor(group, QPalette::Text, text);
        pal.setColor(group, QPalette::ButtonText, text);
    }
    if (c.kind() == Control::Kind::Edit || c.kind() == Control::Kind::DropDown) pal.setColor(QPalette::Base, back);
    if (pal != w->palette()) w->setPalette(pal);
}

} // namespace

ChildView::ChildView(std::unique_ptr<BaseWindow> window, QWidget* parent)
    : QMdiSubWindow(parent), window_(std::move(window)) {
    setAttribute(Qt::WA_DeleteOnClose);
    auto* canvas = new Canvas(this);
    canvas->setAutoFillBackground(true);
    canvas_ = canvas;
}

ChildView::~ChildView() {
    dying_ = true;
    window_->onFocusChanged = nullptr;
    window_->onClosedByItself = nullptr;
    // The widgets go before the window whose controls they show.
    delete canvas_;
    canvas_ = nullptr;
    bindings_.clear();
}

QSize ChildView::layoutSizePx() const { return QSize(toPxX(window_->width), toPxY(window_->height)); }

bool ChildView::openWindow(const OpenParams& params) {
    window_->onClosedByItself = [this] {
        // A window that closes itself while opening is simply not shown.
        if (dying_ || inCloseEvent_ || !built_) return;
        close();
    };
    if (!window_->open(params)) return false;
    build();
    return true;
}

void ChildView::build() {
    setWindowTitle(window_->title);
    auto* canvas = static_cast<Canvas*>(canvas_);
    canvas->hint = layoutSizePx();
    QPalette pal = canvas->palette();
    pal.setColor(QPalette::Window, colorFromPacked(window_->backColor));
    canvas->setPalette(pal);
    canvas->resize(canvas->hint);

    for (Control* c : window_->controls()) {
        auto b = std::make_unique<Binding>();
        b->control = c;
        Binding* raw = b.get();
        bindings_.push_back(std::move(b));
        raw->widget = createWidget(*raw);
        raw->widget->setObjectName(c->name());
        raw->widget->setFont(fontFor(c->fontFace, c->fontSize));
        raw->widget->installEventFilter(this);
        // An editable drop-down types into a line edit of its own.
        if (auto* combo = qobject_cast<QComboBox*>(raw->widget); combo && combo->lineEdit())
            combo->lineEdit()->installEventFilter(this);
        c->onChanged([this, raw] {
            if (!dying_) mirror(*raw);
        });
        mirror(*raw);
    }
    applyTabOrder();
    buildShortcuts();
    buildCommandActions();
    window_->onFocusChanged = [this](Control* c) {
        if (!dying_) focusControl(c);
    };

    setWidget(canvas_);
    canvas_->installEventFilter(this); // resizes of the surface resize the window
    built_ = true;
    adjustSize();
}

void ChildView::focusFirst() {
    if (!built_) return;
    if (window_->focused()) {
        focusControl(window_->focused());
        return;
    }
    // Nothing focused by the open handler: the first control in tab order.
    Binding* first = nullptr;
    for (auto& b : bindings_) {
        QWidget* w = b->widget;
        if (b->control->tabOrder <= 0 || !(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(canvas_) ||
            !w->isEnabled())
            continue;
        if (!first || b->control->tabOrder < first->control->tabOrder) first = b.get();
    }
    if (first) first->widget->setFocus(Qt::TabFocusReason);
}

QWidget* ChildView::createWidget(Binding& b) {
    Control& c = *b.control;
    switch (c.kind()) {
    case Control::Kind::StaticText: {
        auto* l = new QLabel(canvas_);
        l->setAutoFillBackground(true);
        l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        return l;
    }
    case Control::Kind::Edit: {
        auto& e = static_cast<Edit&>(c);
        auto* le = new QLineEdit(canvas_);
        connect(le, &QLineEdit::textEdited, this, [&b, &e](const QString& t) {
            b.fromWidget = true;
            e.setText(t);
            b.fromWidget = false;
        });
        return le;
    }
    case Control::Kind::CheckBox: {
        auto& cb = static_cast<CheckBox&>(c);
        auto* box = new QCheckBox(canvas_);
        // The box has toggled itself; the control toggles and runs its handler,
        // then the mirror shows whatever state the handler left.
        connect(box, &QCheckBox::clicked, this, [this, &b, &cb] {
            cb.click();
            mirror(b);
        });
        return box;
    }
    case Control::Kind::DropDown: {
        auto& dd = static_cast<DropDown&>(c);
        auto* combo = new QComboBox(canvas_);
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setEditable(dd.allowEdit);
        combo->setMaxVisibleItems(12);
        if (QLineEdit* le = combo->lineEdit()) {
            if (dd.limit > 0) le->setMaxLength(dd.limit);
            connect(le, &QLineEdit::textEdited, this, [&b, &dd](const QString& t) {
                b.fromWidget = true;
                dd.setText(t);
                b.fromWidget = false;
            });
        }
        connect(combo, &QComboBox::activated, this, [&dd](int index) { dd.select(index + 1); });
        return combo;
    }
    case Control::Kind::Toolbar: {
        auto* bar = new QToolBar(canvas_);
        bar->setMovable(false);
        bar->setFloatable(false);
        bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
        bar->setAutoFillBackground(true);
        toolBar_ = bar;
        return bar;
    }
    case Control::Kind::List: {
        auto& list = static_cast<ListView&>(c);
        auto* table = new QTableView(canvas_);
        table->setModel(new ListModel(list, table));
        table->setSelectionBehavior(QAbstractItemView::SelectRows);
        table->setSelectionMode(QAbstractItemView::SingleSelection);
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->setTabKeyNavigation(false);
        table->setAlternatingRowColors(true);
        table->setWordWrap(false);
        table->verticalHeader()->setDefaultSectionSize(QFontMetrics(table->font()).height() + 6);
        table->horizontalHeader()->setSectionsClickable(true);
        table->horizontalHeader()->setHighlightSections(false);
        connect(table->horizontalHeader(), &QHeaderView::sectionClicked, this,
                [&list](int section) { list.sortBy(section); });
        connect(table, &QTableView::doubleClicked, this, [&list](const QModelIndex& index) {
            list.setCurrentRow(index.row() + 1);
            list.activate();
        });
        connect(table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
                [&b, &list](const QModelIndex& current) {
                    b.fromWidget = true;
                    list.setCurrentRow(current.isValid() ? current.row() + 1 : 0);
                    b.fromWidget = false;
                });
        return table;
    }
    case Control::Kind::Form: {
        if (showsAsPrinted(static_cast<FormControl&>(c))) {
            auto* scroll = new QScrollArea(canvas_);
            scroll->setWidgetResizable(true);
            scroll->setFocusPolicy(Qt::StrongFocus);
            auto* sheet = new PrintView(scroll);
            sheet->setObjectName(QStringLiteral("print_view"));
            scroll->setWidget(sheet);
            return scroll;
        }
        auto* form = new FormWidget(static_cast<FormControl&>(c), canvas_);
        Control* control = &c;
        form->onLeave = [this, control](bool forward) { focusNeighbour(control, forward); };
        form->isCommandKey = [this](const QKeyEvent& e) { return isWindowShortcut(e); };
        return form;
    }
    }
    return new QWidget(canvas_);
}

void ChildView::mirror(Binding& b) {
    Control& c = *b.control;
    QWidget* w = b.widget;
    if (!w) return;
    if (w->isEnabled() != c.enabled) w->setEnabled(c.enabled);
    setColours(w, c);
    const QFont f = fontFor(c.fontFace, c.fontSize);
    if (w->font() != f) w->setFont(f);

    switch (c.kind()) {
    case Control::Kind::StaticText: {
        auto* l = static_cast<QLabel*>(w);
        if (l->text() != c.text()) l->setText(c.text());
        break;
    }
    case Control::Kind::Edit: {
        auto& e = static_cast<Edit&>(c);
        auto* le = static_cast<QLineEdit*>(w);
        const int maxLen = e.limit > 0 ? e.limit : 32767;
        if (le->maxLength() != maxLen) le->setMaxLength(maxLen);
        if (!b.fromWidget) {
            if (le->text() != e.text()) le->setText(e.text());
            if (e.selStart > 0) {
                const int from = std::min<int>(e.selStart - 1, int(le->text().size()));
                const int len = std::min<int>(e.selLength, int(le->text().size()) - from);
                le->setSelection(from, len);
            }
        }
        break;
    }
    case Control::Kind::CheckBox: {
        auto& cb = static_cast<CheckBox&>(c);
        auto* box = static_cast<QCheckBox*>(w);
        if (box->text() != c.text()) box->setText(c.text());
        if (box->isChecked() != cb.checked) {
            const QSignalBlocker block(box);
            box->setChecked(cb.checked);
        }
        break;
    }
    case Control::Kind::DropDown: {
        auto& dd = static_cast<DropDown&>(c);
        auto* combo = static_cast<QComboBox*>(w);
        const QSignalBlocker block(combo);
        const QStringList texts = itemTexts(dd);
        if (itemTexts(*combo) != texts) {
            combo->clear();
            combo->addItems(texts);
        }
        const int index = dd.selectedIndex() - 1;
        if (combo->currentIndex() != index) combo->setCurrentIndex(index);
        if (combo->isEditable() && !b.fromWidget && combo->currentText() != dd.text()) combo->setEditText(dd.text());
        if (QLineEdit* le = combo->lineEdit()) {
            const int maxLen = dd.limit > 0 ? dd.limit : 32767;
            if (le->maxLength() != maxLen) le->setMaxLength(maxLen);
        }
        break;
    }
    case Control::Kind::Toolbar: mirrorToolbar(b); break;
    case Control::Kind::List: mirrorList(b); break;
    case Control::Kind::Form:
        if (auto* form = qobject_cast<FormWidget*>(w)) {
            form->mirror();
        } else if (PrintView* sheet = printViewOf(w)) {
            sheet->setForm(static_cast<FormControl&>(c).store());
            sheet->refresh();
        }
        break;
    }
    mirrorGeometry(b);
    if (w->isHidden() == c.visible) w->setVisible(c.visible);
}

void ChildView::mirrorGeometry(Binding& b) {
    const Control& c = *b.control;
    QWidget* w = b.widget;
    const int fontHeight = QFontMetrics(w->font()).height();
    QRect r;
    switch (c.kind()) {
    case Control::Kind::Toolbar:
        r = QRect(toPxX(c.x), toPxY(c.y), canvas_->width() - toPxX(c.x), toPxY(c.height));
        break;
    case Control::Kind::DropDown:
        // A drop-down's height is its list's; the closed box is as tall as its font needs.
        r = QRect(toPxX(c.x), toPxY(c.y), toPxX(c.width), w->sizeHint().height());
        break;
    case Control::Kind::Edit: r = pixelRect(c, std::max(fontHeight + 6, toPxY(c.height))); break;
    case Control::Kind::StaticText:
    case Control::Kind::CheckBox: r = pixelRect(c, fontHeight + 2); break;
    case Control::Kind::List:
    case Control::Kind::Form: r = QRect(toPxX(c.x), toPxY(c.y), toPxX(c.width), toPxY(c.height)); break;
    }
    if (w->geometry() != r) w->setGeometry(r);
}

void ChildView::mirrorList(Binding& b) {
    auto& list = static_cast<ListView&>(*b.control);
    auto* table = static_cast<QTableView*>(b.widget);
    auto* model = static_cast<ListModel*>(table->model());
    if (!model->loaded()) {
        const bool fresh = table->model()->columnCount() != int(list.columns().size()) || list.sortColumn() < 0;
        model->reload();
        if (fresh) {
            // Columns as wide as their share of Chinese text, at least their heading.
            const int em = QFontMetrics(table->font()).horizontalAdvance(QChar(0x4E2D));
            for (int i = 0; i < int(list.columns().size()); ++i) {
                const int heading = QFontMetrics(table->font()).horizontalAdvance(list.columns()[size_t(i)].title);
                table->setColumnWidth(i, std::max(list.columns()[size_t(i)].width * em, heading + em) + 8);
            }
        }
        QHeaderView* header = table->horizontalHeader();
        header->setSortIndicatorShown(list.sortColumn() >= 0);
        if (list.sortColumn() >= 0)
            header->setSortIndicator(list.sortColumn(),
                                     list.sortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
    }
    if (!b.fromWidget && list.currentRow() > 0) {
        const QModelIndex current = table->model()->index(list.currentRow() - 1, 0);
        if (table->currentIndex().row() != current.row()) {
            const QSignalBlocker block(table->selectionModel());
            table->setCurrentIndex(current);
            table->selectRow(current.row());
        }
        table->scrollTo(current);
    }
}

void ChildView::mirrorToolbar(Binding& b) {
    auto& tb = static_cast<Toolbar&>(*b.control);
    auto* bar = static_cast<QToolBar*>(b.widget);
    QString signature;
    for (const auto& btn : tb.buttons)
        signature += btn.text + u'\x1f' + btn.toolbarText + u'\x1f' + QString::number(btn.visible) +
                     QString::number(btn.space) + u'\x1e';
    if (signature != b.toolbarSignature) {
        b.toolbarSignature = signature;
        const QList<QAction*> old = bar->actions();
        bar->clear();
        for (QAction* a : old) a->deleteLater(); // one of them may be running its trigger
        bool any = false;
        for (size_t i = 0; i < tb.buttons.size(); ++i) {
            const auto& btn = tb.buttons[i];
            if (!btn.visible) continue;
            if (btn.space > 0 && any) bar->addSeparator();
            QAction* a = bar->addAction(btn.toolbarText);
            a->setData(btn.text);
            const QString event = btn.event;
            connect(a, &QAction::triggered, this, [this, event] { window_->raise(event); });
            any = true;
        }
    }
    for (QAction* a : bar->actions()) {
        if (a->isSeparator()) continue;
        const Toolbar::Button* btn = tb.button(a->data().toString());
        const bool on = btn && btn->enabled;
        if (a->isEnabled() != on) a->setEnabled(on);
    }
    refreshCommandActions();
}

void ChildView::applyTabOrder() {
    std::vector<Binding*> order;
    for (auto& b : bindings_) {
        const auto k = b->control->kind();
        if (b->control->tabOrder <= 0 || k == Control::Kind::StaticText || k == Control::Kind::Toolbar ||
            k == Control::Kind::Form)
            continue;
        order.push_back(b.get());
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const Binding* a, const Binding* b) { return a->control->tabOrder < b->control->tabOrder; });
    for (size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1]->widget, order[i]->widget);
}

void ChildView::buildShortcuts() {
    for (const MenuItem& item : window_->menu.items) {
        // Only the shortcuts of visible items are live: a hidden item that shares a
        // key with a visible one must not make the key ambiguous.
        if (!item.visible || item.event.isEmpty() || item.shortcut == 0) continue;
        const QKeySequence seq = keySequenceForShortcut(item.shortcut);
        if (seq.isEmpty()) continue;
        auto* a = new QAction(this);
        a->setObjectName(QStringLiteral("shortcut_") + item.name);
        a->setShortcut(seq);
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        const QString name = item.name;
        connect(a, &QAction::triggered, this, [this, name] { window_->chooseMenuItem(name); });
        addAction(a);
        shortcutActions_ << a;
    }
}

void ChildView::buildCommandActions() {
    bool pendingSeparator = false;
    for (const MenuItem& item : window_->menu.items) {
        if (!item.visible) continue;
        if (item.isSeparator()) {
            pendingSeparator = !commandActions_.isEmpty();
            continue;
        }
        if (pendingSeparator) {
            auto* sep = new QAction(this);
            sep->setSeparator(true);
            commandActions_ << sep;
            pendingSeparator = false;
        }
        // The caption keeps its access key and, after the tab, the shortcut shown.
        auto* a = new QAction(item.text, this);
        a->setObjectName(QStringLiteral("command_") + item.name);
        a->setStatusTip(item.microhelp);
        a->setData(item.textUpToTab());
        const QString name = item.name;
        connect(a, &QAction::triggered, this, [this, name] { window_->chooseMenuItem(name); });
        commandActions_ << a;
    }
    refreshCommandActions();
}

void ChildView::refreshCommandActions() {
    for (QAction* a : std::as_const(commandActions_)) {
        if (a->isSeparator()) continue;
        const Toolbar::Button* btn = window_->uo_toolbar.button(a->data().toString());
        const bool on = !btn || btn->enabled;
        if (a->isEnabled() != on) a->setEnabled(on);
    }
}

void ChildView::focusNeighbour(Control* from, bool forward) {
    // Controls that take the focus, in tab order (creation order among equals).
    std::vector<Binding*> order;
    for (auto& b : bindings_) {
        const auto k = b->control->kind();
        if (k == Control::Kind::StaticText || k == Control::Kind::Toolbar) continue;
        const bool takesFocus = b->control->tabOrder > 0 && b->widget->isVisibleTo(canvas_) && b->widget->isEnabled();
        if (b->control != from && !takesFocus) continue;
        order.push_back(b.get());
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const Binding* a, const Binding* b) { return a->control->tabOrder < b->control->tabOrder; });
    const auto at = std::find_if(order.begin(), order.end(), [from](const Binding* b) { return b->control == from; });
    if (at == order.end() || order.size() < 2) return;
    const qsizetype i = at - order.begin();
    const qsizetype n = qsizetype(order.size());
    Binding* next = order[size_t(forward ? (i + 1) % n : (i + n - 1) % n)];
    window_->setFocus(next->control);
}

void ChildView::focusControl(Control* c) {
    if (!c) return;
    for (auto& b : bindings_) {
        if (b->control != c) continue;
        // A form keeps the focus where it is inside it (a field, the table, a cell editor).
        QWidget* focus = QApplication::focusWidget();
        if (b->widget->hasFocus() || (focus && b->widget->isAncestorOf(focus))) return;
        syncingFocus_ = true;
        b->widget->setFocus(Qt::OtherFocusReason);
        syncingFocus_ = false;
        return;
    }
}

QWidget* ChildView::widgetFor(const QString& controlName) const {
    for (const auto& b : bindings_)
        if (b->control->name() == controlName) return b->widget;
    return nullptr;
}

bool ChildView::isWindowShortcut(const QKeyEvent& e) const {
    const QKeySequence seq(e.keyCombination());
    return std::any_of(shortcutActions_.begin(), shortcutActions_.end(),
                       [&](const QAction* a) { return a->shortcut() == seq; });
}

ChildView::Binding* ChildView::bindingOf(const QObject* widget) {
    for (auto& b : bindings_)
        if (b->widget == widget) return b.get();
    return nullptr;
}

bool ChildView::deliverKey(Binding& b, int key, int keyflags) {
    Control& c = *b.control;
    switch (c.kind()) {
    case Control::Kind::DropDown: {
        auto& dd = static_cast<DropDown&>(c);
        const QString bar = QStringLiteral("|");
        if (window_->is_keyevent_send.contains(bar + c.name() + bar)) {
            window_->keyDown(key, keyflags);
            return true;
        }
        if (dd.onKey) {
            dd.onKey(key, keyflags);
            return true;
        }
        return false;
    }
    case Control::Kind::List: {
        static_cast<ListView&>(c).activate();
        return true;
    }
    case Control::Kind::Edit: {
        auto& e = static_cast<Edit&>(c);
        if (!e.onKeyDown) return false;
        e.onKeyDown(key);
        return true;
    }
    default: return false;
    }
}

bool ChildView::eventFilter(QObject* watched, QEvent* event) {
    if (!dying_ && built_) {
        if (watched == canvas_ && event->type() == QEvent::Resize) {
            const QSize s = static_cast<QResizeEvent*>(event)->size();
            window_->resizeTo(toUnitsX(s.width()), toUnitsY(s.height()));
            for (auto& b : bindings_)
                if (b->control->kind() == Control::Kind::Toolbar) mirrorGeometry(*b);
        } else if (event->type() == QEvent::ShortcutOverride && isWindowShortcut(*static_cast<QKeyEvent*>(event))) {
            // The window's menu keys are not a text field's: on X11 a line edit
            // would take Ctrl+E, Ctrl+K and others for its own editing.
            event->ignore();
            return true;
        } else if (Binding* b = bindingOf(watched)) {
            if (event->type() == QEvent::FocusIn) {
                if (!syncingFocus_ && window_->focused() != b->control) window_->setFocus(b->control);
            } else if (event->type() == QEvent::KeyPress) {
                auto* ke = static_cast<QKeyEvent*>(event);
                const int key = hostKeyCode(ke->key());
                if (key == keys::Enter && deliverKey(*b, key, hostKeyFlags(*ke))) return true;
            }
        }
    }
    return QMdiSubWindow::eventFilter(watched, event);
}

void ChildView::closeEvent(QCloseEvent* event) {
    if (built_ && !window_->isClosed()) {
        inCloseEvent_ = true;
        const bool closed = window_->close();
        inCloseEvent_ = false;
        if (!closed) {
            event->ignore();
            return;
        }
    }
    if (built_) emit closing();
    QMdiSubWindow::closeEvent(event);
}

} // namespace fp::ui
