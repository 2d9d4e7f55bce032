// SPDX-License-Identifier: GPL-3.0-or-later
// Which folder the consent tests work in: a list item's folder, or a folder typed
// into the list's field.
#include "window/ViewController.h"

#include <QComboBox>
#include <QLineEdit>

#include <memory>

namespace pellim {

std::optional<FileUrl> ViewController::selectedProtectedFolder() const {
    const int index = folderList->currentIndex();
    // An item counts while the field shows its name. Text put there another
    // way than by keys (a screen reader's "set text") leaves the item selected,
    // and is read as typed.
    if (index >= 0 && folderList->currentText() == folderList->itemText(index)) {
        // Items and folders pair by position; a position without a folder gives
        // none rather than reading past the table.
        if (index < folderList->count() && index < theSpecDirs.size())
            return theSpecDirs[index];
        return std::nullopt;
    }
    // The text exactly as typed: not trimmed, not matched against the item
    // names, no "~" expansion. The file system is not consulted.
    const FileUrl typed = FileUrl::fromUserText(folderList->currentText());
    return typed.isDirectory() ? typed : typed.deletingLastPathComponent();
}

namespace {

// What the folder list remembers about typing; owned through the connections'
// captures, so it lives exactly as long as the field it watches.
struct TypingState {
    bool typed = false;     // the text was edited since an item was last picked
    bool finishing = false; // inside the field's editingFinished
    bool clearing = false;  // inside our own move to "no item"
};

// Moves the list to "no item selected" without losing what the person typed.
// QComboBox empties its field when the index becomes -1, so the text, cursor and
// selection are put back.
void selectNoItemKeepingText(QComboBox *list, QLineEdit *field, TypingState &state) {
    if (list->currentIndex() < 0)
        return;
    const QString text = field->text();
    const int cursor = field->cursorPosition();
    const int selectionStart = field->selectionStart();
    const int selectionLength = field->selectionLength();
    state.clearing = true;
    list->setCurrentIndex(-1);
    field->setText(text);
    if (selectionStart >= 0)
        field->setSelection(selectionStart, selectionLength);
    field->setCursorPosition(cursor);
    state.clearing = false;
}

} // namespace

// An editable QComboBox keeps its item selected while the person types, picks an
// item whose name equals the typed text when editing ends, completes names inline
// and adds the typed text as a new item on Enter. The folder list must instead
// read typed text as a path, exactly as typed, until an item is picked again.
void ViewController::setUpFolderList() {
    folderList->setEditable(true);
    folderList->setInsertPolicy(QComboBox::NoInsert);

    auto state = std::make_shared<TypingState>();
    // A field of our own, so that our handler of editingFinished is connected
    // before the combo box's own: it must know when the combo box matches the
    // typed text to an item by itself, which is not a pick.
    auto *field = new QLineEdit(folderList);
    connect(field, &QLineEdit::editingFinished, folderList, [state]() { state->finishing = true; });
    folderList->setLineEdit(field);
    // No inline completion: the field holds only what the person typed.
    folderList->setCompleter(nullptr);
    field->setAccessibleName(folderList->accessibleName());
    field->setAccessibleDescription(folderList->accessibleDescription());
    // A typed path names a folder only with its final "/"; say so where it is typed.
    field->setToolTip(folderList->toolTip());
    field->setPlaceholderText(tr("A folder's full path, ending in “/”: /home/you/Reports/"));

    QComboBox *list = folderList;
    connect(field, &QLineEdit::editingFinished, folderList, [list, field, state]() {
        state->finishing = false;
        if (state->typed)
            selectNoItemKeepingText(list, field, *state);
    });
    connect(field, &QLineEdit::textEdited, folderList, [list, field, state]() {
        state->typed = true;
        selectNoItemKeepingText(list, field, *state);
    });
    // Any other move to an item (the popup, the arrow keys, the wheel, the window
    // filling the list) is a pick.
    connect(folderList, &QComboBox::currentIndexChanged, folderList, [state](int index) {
        if (index >= 0 && !state->finishing && !state->clearing)
            state->typed = false;
    });
}

} // namespace pellim
