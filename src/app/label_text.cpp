#include "app/label_text.h"

namespace nulvane::app {

Text WithoutMnemonic(TextView label) {
  Text plain;
  plain.reserve(label.size());
  for (std::size_t i = 0; i < label.size(); ++i) {
    if (label[i] == u'&') {
      if (i + 1 < label.size() && label[i + 1] == u'&') plain.push_back(u'&');
      if (i + 1 < label.size() && label[i + 1] == u'&') ++i;
      continue;
    }
    plain.push_back(label[i]);
  }
  return plain;
}

Text CornerLabel(TextView text) { return Text(u"\u00BB\u00BB ") + Text(text) + u" \u00AB\u00AB"; }

}  // namespace nulvane::app
