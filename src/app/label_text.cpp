#include "app/label_text.h"

namespace nulvane::app {

Text CornerLabel(TextView text) { return Text(u"\u00BB\u00BB ") + Text(text) + u" \u00AB\u00AB"; }

}  // namespace nulvane::app
