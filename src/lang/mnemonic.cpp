#include "lang/mnemonic.h"

namespace nulvane::lang {

char16_t MnemonicCharacter(TextView text) {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != u'&') continue;
    if (text[i + 1] == u'&') {
      ++i;  // a literal "&"
      continue;
    }
    return text[i + 1];
  }
  return 0;
}

Text WithoutMnemonic(TextView text) {
  Text plain;
  plain.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'&') {
      if (i + 1 == text.size()) break;  // a trailing "&" marks nothing
      ++i;                              // keep what follows, "&" included
    }
    plain.push_back(text[i]);
  }
  return plain;
}

}  // namespace nulvane::lang
