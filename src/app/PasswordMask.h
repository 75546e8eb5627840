#pragma once

class QLineEdit;

namespace marindo {

// Masks the field's characters with U+25CF BLACK CIRCLE, as the password
// fields have always shown them, whatever the widget style's own choice.
void MaskWithBlackCircles(QLineEdit* field);

// Shows the field's text in plain characters, or masked again.
void ShowPasswordText(QLineEdit* field, bool plain);

}  // namespace marindo
