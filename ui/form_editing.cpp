#include "ui/form_editing.h"

#include <QTableView>

#include "data_model/data_store.h"
#include "host/controls.h"
#include "host/form_control.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalBlocker>

namespace fp::ui {

void goToCell(FormControl& control, int row, const QString& column) {
    if (control.currentRow == row && control.currentColumn.compare(column, Qt::CaseInsensitive) == 0) return;
    if (control.hasPendingEdit()) leaveCell(control);
    control.currentRow = row;
    control.setColumn(column);
}

void typeText(FormControl& control, int row, const QString& column, const QString& text) {
    goToCell(control, row, column);
    control.editText(text);
}

int leaveCell(FormControl& control) {
    if (!control.hasPendingEdit()) return 1;
    const int rc = control.acceptText();
    if (rc != 1) {
        control.discardEdit();
        control.notify();
    }
    return rc;
}

void pressKey(FormControl& control, int key, int keyflags) {
    if (key == keys::Enter) {
        if (control.onKey && control.onKey(key, keyflags)) return;
        key = keys::Tab;
    }
    control.keyDown(key, keyflags);
}

bool isEnterKey(const QKeyEvent& e) { return e.key() == Qt::Key_Return || e.key() == Qt::Key_Enter; }

bool isTabKey(const QKeyEvent& e) {
    return e.key() == Qt::Key_Tab && !(e.modifiers() & (Qt::ControlModifier | Qt::AltModifier));
}

bool dropDownTakesTypedText(const FormColumn& column) {
    return column.edit == EditStyle::DropDown &&
           column.dropDown.displayColumn.compare(column.dropDown.dataColumn, Qt::CaseInsensitive) == 0;
}

QString editTextOf(const DataStore& store, int row, const QString& column) {
    QString text = store.displayText(row, column);
    const FormColumn* c = store.def().column(column);
    if (c && c->edit == EditStyle::Plain && (c->type == ColType::Decimal2 || c->type == ColType::Whole))
        text.remove(QLatin1Char(','));
    return text;
}

QStringList choiceTexts(const DataStore& store, const FormColumn& column) {
    QStringList texts;
    if (column.edit == EditStyle::CodeTable) {
        for (const auto& e : column.codeTable) texts << e.display;
    } else if (column.edit == EditStyle::DropDown) {
        if (const DataStore* list = store.child(column.name))
            for (int r = 1; r <= list->rowCount(); ++r) texts << list->getString(r, column.dropDown.displayColumn);
    }
    return texts;
}

QString headingText(const QString& label) {
    QString t = label;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return t.trimmed();
}

FieldCombo::FieldCombo(QWidget* parent) : QComboBox(parent) {
    setInsertPolicy(QComboBox::NoInsert);
    setMaxVisibleItems(12);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(4);
}

void FieldCombo::setReadOnly(bool ro) {
    if (readOnly_ == ro) return;
    readOnly_ = ro;
    if (QLineEdit* le = lineEdit()) le->setReadOnly(ro);
}

QStringList FieldCombo::choices() const {
    QStringList l;
    for (int i = 0; i < count(); ++i) l << itemText(i);
    return l;
}

void FieldCombo::setChoices(const QStringList& texts) {
    if (choices() == texts) return;
    const QSignalBlocker block(this);
    const QString shown = currentText();
    clear();
    addItems(texts);
    showText(shown);
}

void FieldCombo::showText(const QString& text) {
    const QSignalBlocker block(this);
    if (isEditable()) {
        const int i = findText(text);
        if (currentIndex() != i) setCurrentIndex(i);
        if (currentText() != text) setEditText(text);
        return;
    }
    int i = text.isEmpty() ? -1 : findText(text);
    if (i < 0 && !text.isEmpty()) {
        addItem(text);
        i = count() - 1;
    }
    if (currentIndex() != i) setCurrentIndex(i);
}

void FieldCombo::showPopup() {
    if (readOnly_) return;
    // A list of several columns opens wide enough to show them all.
    if (auto* table = qobject_cast<QTableView*>(view())) {
        table->resizeColumnsToContents();
        int width = table->frameWidth() * 2 + 24;
        for (int c = 0; c < model()->columnCount(); ++c) width += table->columnWidth(c);
        table->setMinimumWidth(std::max(width, this->width()));
    }
    QComboBox::showPopup();
}

void FieldCombo::keyPressEvent(QKeyEvent* event) {
    if (readOnly_) {
        switch (event->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
        case Qt::Key_F4:
        case Qt::Key_Space: event->accept(); return;
        default:
            if (!isEditable() && !event->text().isEmpty()) { // no search-by-letter either
                event->accept();
                return;
            }
            break;
        }
    }
    QComboBox::keyPressEvent(event);
}

void FieldCombo::wheelEvent(QWheelEvent* event) {
    if (readOnly_) return;
    QComboBox::wheelEvent(event);
}

void FieldCombo::mousePressEvent(QMouseEvent* event) {
    if (readOnly_ && !isEditable()) {
        setFocus(Qt::MouseFocusReason);
        return;
    }
    QComboBox::mousePressEvent(event);
}

} // namespace fp::ui
