// Small text rules of the window's labels, kept apart from the window so they are tested
// natively.
#pragma once

#include "platform/text.h"

namespace nulvane::app {

// A label without its mnemonic markers: every single "&" is dropped, "&&" stays as one "&".
// The message list shows labels as plain text, where a marker would show as a literal "&".
Text WithoutMnemonic(TextView label);

// A corner-toolbar label: "»» " + text + " ««".
Text CornerLabel(TextView text);

}  // namespace nulvane::app
