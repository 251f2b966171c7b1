#pragma once
// Toolkit-neutral controls. A window owns them as members with their system
// names; their state is plain observable data that tests assert and that the Qt
// view mirrors. Changes notify listeners (the view) through onChanged.
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <functional>
#include <vector>

namespace fp {

class BaseWindow;
class Transaction;

inline constexpr int kRgbRed = 0x0000FF; // RGB(255,0,0) as the host packs colours (r + g*256 + b*65536)
inline int rgb(int r, int g, int b) { return r + g * 256 + b * 65536; }

class Control {
public:
    enum class Kind { StaticText, Edit, CheckBox, DropDown, Form, Toolbar, List };
    Control(BaseWindow* parent, QString name, Kind kind);
    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    const QString& name() const { return name_; }
    Kind kind() const { return kind_; }
    BaseWindow* parent() const { return parent_; }

    bool visible = true;
    bool enabled = true;
    int x = 0, y = 0, width = 0, height = 0;
    int tabOrder = 0;
    int textColor = 0; // packed RGB
    int backColor = rgb(255, 251, 240);
    QString fontFace = QStringLiteral("宋体");
    int fontSize = 10;

    const QString& text() const { return text_; }
    virtual void setText(const QString& t) {
        text_ = t;
        notify();
    }

    void show() {
        visible = true;
        notify();
    }
    void hide() {
        visible = false;
        notify();
    }
    void setVisible(bool v) {
        visible = v;
        notify();
    }
    void setEnabled(bool e) {
        enabled = e;
        notify();
    }
    void move(int nx, int ny) {
        x = nx;
        y = ny;
        notify();
    }
    void resize(int w, int h) {
        width = w;
        height = h;
        notify();
    }
    // Gives this control the focus of its window.
    void setFocus();

    void notify() {
        for (auto& l : listeners_) l();
    }
    void onChanged(std::function<void()> l) { listeners_.push_back(std::move(l)); }

protected:
    QString text_;

private:
    BaseWindow* parent_;
    QString name_;
    Kind kind_;
    std::vector<std::function<void()>> listeners_;
};

class StaticText : public Control {
public:
    StaticText(BaseWindow* p, QString n) : Control(p, std::move(n), Kind::StaticText) {}
};

// sle_: single-line edit.
class Edit : public Control {
public:
    Edit(BaseWindow* p, QString n) : Control(p, std::move(n), Kind::Edit) {}
    int limit = 0; // characters, 0 = none
    void setText(const QString& t) override;
    // selecttext(start, length), 1-based like the windows use
    void selectText(int start, int length) {
        selStart = start;
        selLength = length;
        notify();
    }
    int selStart = 0, selLength = 0;
    std::function<void(int key)> onKeyDown; // ue_keydown
    std::function<void()> onGetFocus;       // getfocus
};

class CheckBox : public Control {
public:
    CheckBox(BaseWindow* p, QString n) : Control(p, std::move(n), Kind::CheckBox) {}
    bool checked = false;
    void setChecked(bool c) {
        checked = c;
        notify();
    }
    std::function<void()> onClicked; // runs after the box changed its state
    // A user click: toggles, then runs the handler.
    void click() {
        if (!enabled || !visible) return;
        checked = !checked;
        notify();
        if (onClicked) onClicked();
    }
};

// uo_ddlb: drop-down list of (id, text) entries, optionally with an editable text.
class DropDown : public Control {
public:
    DropDown(BaseWindow* p, QString n) : Control(p, std::move(n), Kind::DropDown) {}
    struct Item {
        QString id;
        QString text;
    };

    bool allowEdit = false;
    bool autoHScroll = false;
    int limit = 0;
    int space = 0;

    const std::vector<Item>& items() const { return items_; }
    int count() const { return int(items_.size()); }
    int selectedIndex() const { return selected_; } // 1-based, 0 = none

    // of_getdata_from_sql: fills the list from a query (values bound) by its id and
    // display columns. Returns the number of entries, or -1 when the query failed
    // (the list is then left empty).
    int of_getdata_from_sql(Transaction& sqlca, const QString& sql, const QVariantList& binds, const QString& idColumn,
                            const QString& nameColumn);
    void of_additem(const QString& id, const QString& text) {
        items_.push_back({id, text});
        notify();
    }
    // The id of the entry at a 1-based index, or of the entry whose text equals `text`.
    QString of_getid(int index) const;
    QString of_getid(const QString& text) const;
    QString of_getname(const QString& text) const;
    void of_set_space(int s) { space = s; }
    // deleteitem(1) until nothing is removed; returns entries left (-1 when none removed).
    int deleteItem(int index);
    void reset() {
        items_.clear();
        selected_ = 0;
        notify();
    }

    // A user's choice: selects the entry, shows its text, then raises selectionchanged.
    void select(int index);
    // Shows an entry without raising the event (selectitem).
    void selectItem(int index);
    std::function<void(int index)> onSelectionChanged;
    std::function<void(int key, int keyflags)> onKey; // ue_key

private:
    std::vector<Item> items_;
    int selected_ = 0;
};

// uo_toolbar_new: buttons addressed by their item text up to the tab.
class Toolbar : public Control {
public:
    Toolbar(BaseWindow* p, QString n) : Control(p, std::move(n), Kind::Toolbar) {}
    struct Button {
        QString text;
        QString toolbarText;
        QString picture;
        QString event;
        bool enabled = true;
        bool visible = true;
        int space = 0;
    };
    std::vector<Button> buttons;
    void of_setenable(const QString& text, bool enable);
    bool isEnabled(const QString& text) const;
    const Button* button(const QString& text) const;
};

// A read-only list of rows of text (a register, a summary): the view shows it
// as a table. A heading click sorts by that column; Enter or a double click
// activates the current row.
class ListView : public Control {
public:
    ListView(BaseWindow* p, QString n) : Control(p, std::move(n), Kind::List) {}
    struct Column {
        QString title;
        bool number = false; // right-aligned, sorted by value
        int width = 10;      // characters of a Chinese text
    };
    // Replaces the list; `colours` holds a packed RGB text colour a row (0:
    // black), or nothing. No row is current afterwards, unless there are rows:
    // then the first.
    void setRows(std::vector<Column> columns, QList<QStringList> rows, QList<int> colours = {});
    const std::vector<Column>& columns() const { return columns_; }
    int rowCount() const { return int(rows_.size()); }
    // The text of a cell, 1-based row, 0-based column; empty out of range.
    QString cell(int row, int column) const;
    int rowColour(int row) const { return row >= 1 && row <= colours_.size() ? colours_[row - 1] : 0; }
    // Grows with every replacement or sort, so that a view knows to reload.
    int revision() const { return revision_; }

    // Sorts by a column (ascending, or descending when it is already sorted
    // ascending by it); the current row stays the same row of data.
    void sortBy(int column);
    int sortColumn() const { return sortColumn_; }
    bool sortAscending() const { return ascending_; }

    int currentRow() const { return current_; } // 1-based, 0 = none
    void setCurrentRow(int row);
    // Enter or a double click on the current row.
    void activate();
    std::function<void(int row)> onActivated;

private:
    std::vector<Column> columns_;
    QList<QStringList> rows_;
    QList<int> colours_;
    int current_ = 0;
    int sortColumn_ = -1;
    bool ascending_ = true;
    int revision_ = 0;
};

// Key codes the windows compare with.
namespace keys {
inline constexpr int Enter = 13;
inline constexpr int Tab = 9;
inline constexpr int Escape = 27;
} // namespace keys

} // namespace fp
