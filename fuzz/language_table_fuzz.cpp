// Any bytes as decoded table text: loading and every lookup must stay inside the buffer.
#include <cstddef>
#include <cstdint>

#include "lang/language_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  nulvane::lang::LanguageTable table;
  table.LoadText(data, size);
  volatile std::size_t sum = table.DefaultSectionCopy().size();
  for (int slot = -1; slot <= nulvane::lang::kMaxSlots; ++slot) {
    table.SetCurrentLanguage(slot);
    if (const char16_t* name = table.SlotName(slot)) sum = sum + name[0];
    for (int id = -1; id <= nulvane::lang::kTextsPerSlot; ++id) {
      if (const char16_t* text = table.GetText(id)) sum = sum + text[0];
      if (const char16_t* text = table.GetGeneralText(id)) sum = sum + text[0];
    }
  }
  return 0;
}
