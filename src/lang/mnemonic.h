// The mark of a text's mnemonic: "&" before the character that selects the control or menu entry
// ("&Delete"); "&&" stands for a literal "&". The one rule for the window's labels, its menu
// bar and the console's lines.
#pragma once

#include "platform/text.h"

namespace nulvane::lang {

// The character after the first "&" that does not start "&&", as written; 0 when there is none
// (a trailing "&" marks nothing).
char16_t MnemonicCharacter(TextView text);

// `text` as shown without its marks: every "&" that marks a character goes, "&&" becomes "&",
// and a trailing "&" goes.
Text WithoutMnemonic(TextView text);

}  // namespace nulvane::lang
