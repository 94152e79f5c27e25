// Small text rules of the window's labels, kept apart from the window so they are tested
// natively.
#pragma once

#include "platform/text.h"

namespace nulvane::app {

// A corner-toolbar label: "»» " + text + " ««".
Text CornerLabel(TextView text);

}  // namespace nulvane::app
