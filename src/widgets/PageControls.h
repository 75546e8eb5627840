#pragma once

#include <span>
#include <string_view>

#include "settings/SettingsLists.h"

class QComboBox;
class QKeyEvent;
class QRadioButton;

namespace marindo {

// The radio pairs of the pages may both be unchecked (after a clear), so they
// are not auto-exclusive; a click still leaves exactly the clicked one
// checked, as a click on a radio button always does (Qt would uncheck a
// checked one).
void CheckOnly(QRadioButton* clicked, QRadioButton* other);

// The pages sit in the main window's dialog: Enter and Escape must neither
// press Modify nor close the program. True when the key was one of them and
// has been taken.
bool SwallowDialogKey(QKeyEvent* event);

// Fill an empty drop-down list from a settings table, one item per number or
// name in the table's order, and leave it without a selection (adding to an
// empty list would select its first item).
void FillNumbers(QComboBox* list, const NumberList& numbers);
void FillNames(QComboBox* list, std::span<const std::string_view> names);

}  // namespace marindo
