#pragma once
// What the form views do to a form control (uo_dw_grid) when the user works in
// a cell. The views hold no rules of their own: every typed text becomes the
// control's pending edit, leaving a cell or pressing Enter accepts it, and keys
// go to the control's key handler.
//
//   typing      -> FormControl::editText (the pending edit of the current cell)
//   leave cell  -> FormControl::acceptText (a refused text is reported by the
//                  control and then dropped: the cell shows its stored value)
//   Enter       -> the form's key handler; when it does not take the key, Tab
//   Tab         -> FormControl::keyDown(Tab): accept, then the next column
#include "data_model/form_def.h"

#include <QComboBox>
#include <QString>
#include <QStringList>

class QKeyEvent;

namespace fp {
class DataStore;
class FormControl;
} // namespace fp

namespace fp::ui {

// Makes (row, column) the control's current cell, as a click or a focus change
// does. A pending edit of the cell left is accepted first. Notifies only when
// the cell changes.
void goToCell(FormControl& control, int row, const QString& column);

// The user typed or chose `text` in (row, column): the control's pending edit.
void typeText(FormControl& control, int row, const QString& column, const QString& text);

// The user left the cell: accepts the pending edit; a refused edit (the control
// has shown why) is dropped and the views show the stored value again.
// Returns the control's result (1 accepted or nothing pending, -1 refused).
int leaveCell(FormControl& control);

// A key in the form (Enter or Tab): the form's key handler first; an Enter it
// does not take moves on like Tab.
void pressKey(FormControl& control, int key, int keyflags);

// Enter (either key) and Tab without Ctrl or Alt.
bool isEnterKey(const QKeyEvent& event);
bool isTabKey(const QKeyEvent& event);

// A drop-down column whose list shows the stored value itself (payer name,
// item name) takes typed text as well as a choice from the list; one that shows
// a name for a code (tax office) only takes a choice.
bool dropDownTakesTypedText(const FormColumn& column);

// The text a clerk edits in a cell: what the cell shows, but a plain amount or
// count without its grouping ("1234.50" for "1,234.50"), so that the text typed
// over it reads back as a number. Every view edits this text.
QString editTextOf(const DataStore& store, int row, const QString& column);

// The texts a code table or drop-down column offers, in list order.
QStringList choiceTexts(const DataStore& store, const FormColumn& column);

// A column heading as a line or lines of text: the heading without its leading
// and trailing line breaks and blanks, "\r\n" inside it as a line break.
QString headingText(const QString& label);

// A combo box that can be read-only: it shows its text in the normal colours but
// neither opens its list nor changes its choice.
class FieldCombo : public QComboBox {
    Q_OBJECT
public:
    explicit FieldCombo(QWidget* parent = nullptr);
    void setReadOnly(bool ro);
    bool isReadOnly() const { return readOnly_; }
    // Replaces the list when it differs; the shown text stays.
    void setChoices(const QStringList& texts);
    QStringList choices() const;
    // Shows `text`: the edit text of an editable box; the matching entry of a
    // choose-only box (an entry is added for a stored value that is not listed).
    void showText(const QString& text);

    void showPopup() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    bool readOnly_ = false;
};

} // namespace fp::ui
