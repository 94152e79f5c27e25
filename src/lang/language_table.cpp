#include "lang/language_table.h"

#include <algorithm>

#include "lang/lzari.h"
#include "platform/text.h"

namespace nulvane::lang {

extern const unsigned char kLanguageTableBlob[];
extern const std::size_t kLanguageTableBlobSize;

namespace {

// A header larger than this is not a language table (the real one is about 100 KB); decoding
// would only spin through garbage.
constexpr std::uint32_t kMaxDecodedSize = 64u << 20;

const char16_t kUnknownId[] = u"==?";

}  // namespace

bool LanguageTable::LoadBlob(const unsigned char* blob, std::size_t size) {
  if (!blob || size < 4) {
    LoadText(nullptr, 0);
    return false;
  }
  const std::uint32_t header = static_cast<std::uint32_t>(blob[0]) | (blob[1] << 8) |
                               (blob[2] << 16) | (static_cast<std::uint32_t>(blob[3]) << 24);
  if (header > kMaxDecodedSize) {
    LoadText(nullptr, 0);
    return false;
  }
  std::uint32_t decoded = 0;
  // The capacity rule stores at most capacity - 1 bytes: one more than the text holds.
  const std::vector<unsigned char> bytes = DecodeLzariBlob(blob, size, header + 1u, decoded);
  LoadText(bytes.data(), std::min<std::size_t>(decoded, bytes.size()));
  return true;
}

void LanguageTable::LoadText(const unsigned char* bytes, std::size_t size) {
  decoded_size_ = size;
  const std::size_t units = size / 2;  // an odd last byte is no character
  // Two terminators after the text, so every "four characters after a separator" that
  // runs past the end lands on a terminator, never outside the buffer.
  text_.assign(units + 4, u'\0');
  for (std::size_t i = 0; i < units; ++i) {
    text_[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  Parse();
}

void LanguageTable::Parse() {
  slot_count_ = 0;
  names_.fill(nullptr);
  raw_.fill(nullptr);
  for (auto& slot : *texts_) slot.fill(nullptr);
  general_.fill(nullptr);
  default_section_.clear();

  const std::size_t length = text_.size() - 4;
  char16_t* text = text_.data();
  char16_t* general = nullptr;
  // A block starts `offset` characters after its separator, or at the end of the text.
  auto after = [&](std::size_t separator, std::size_t offset) {
    return text + std::min(separator + offset, length);
  };

  int separators = 0;
  std::size_t i = 0;
  while (i + 1 < length) {
    if (text[i] != u'#' || text[i + 1] != u'#') {
      ++i;
      continue;
    }
    text[i] = u'\0';
    const int k = separators++;
    std::size_t next = i + 2;
    if (k == 0) {
      general = after(i, 4);
    } else if (k >= 3 && slot_count_ < kMaxSlots) {
      const int slot = slot_count_++;
      if (text[i + 2] == u'=') {
        std::size_t cr = i + 3;
        while (cr < length && text[cr] != u'\r') ++cr;
        if (cr < length) {
          text[cr] = u'\0';
          names_[slot] = text + i + 3;
          raw_[slot] = text + cr + 1;
          next = cr + 1;
        }
      } else {
        raw_[slot] = after(i, 4);
      }
    }
    i = next;
  }

  if (slot_count_ > kDefaultSlot && raw_[kDefaultSlot]) default_section_ = raw_[kDefaultSlot];
  for (int slot = 0; slot < slot_count_; ++slot) {
    ParseSection(raw_[slot], (*texts_)[slot].data(), kTextsPerSlot - 1, false);
  }
  if (general) ParseSection(general, general_.data(), kGeneralTexts - 1, true);
}

void LanguageTable::ParseSection(char16_t* text, const char16_t** table, int max_id,
                                 bool unescape) {
  if (!text) return;
  char16_t* line = text;
  for (char16_t* p = text; *p; ++p) {
    if (*p != u'\n') continue;
    *p = u'\0';
    if (p != text && p[-1] == u'\r') p[-1] = u'\0';
    char16_t* equals = line;
    while (*equals && *equals != u'=') ++equals;
    if (*equals == u'=') {
      const int id =
          platform::ParseDecimal(TextView(line, static_cast<std::size_t>(equals - line)));
      if (id >= 0 && id <= max_id) {
        if (unescape) {
          char16_t* out = equals + 1;
          for (const char16_t* in = equals + 1; *in; ++in) {
            if (in[0] == u'\\' && in[1] == u'r') {
              *out++ = u'\r';
              ++in;
            } else if (in[0] == u'\\' && in[1] == u'n') {
              *out++ = u'\n';
              ++in;
            } else {
              *out++ = *in;
            }
          }
          *out = u'\0';
        }
        table[id] = equals + 1;
      }
    }
    line = p + 1;
  }
}

bool LanguageTable::IsUsableLanguage(int index) const {
  return index >= 0 && index < kMaxSlots && index < slot_count_;
}

const char16_t* LanguageTable::GetText(int id) const {
  if (id < 0 || id >= kTextsPerSlot) return kUnknownId;
  const int language = CurrentLanguage();  // read once: a concurrent change is seen whole
  if (IsUsableLanguage(language)) {
    if (const char16_t* text = (*texts_)[language][id]) return text;
  }
  return (*texts_)[kDefaultSlot][id];
}

const char16_t* LanguageTable::GetGeneralText(int id) const {
  return (id >= 0 && id < kGeneralTexts) ? general_[id] : nullptr;
}

const char16_t* LanguageTable::GetSlotText(int slot, int id) const {
  if (slot < 0 || slot >= slot_count_ || id < 0 || id >= kTextsPerSlot) return nullptr;
  return (*texts_)[slot][id];
}

const char16_t* LanguageTable::SlotName(int slot) const {
  return (slot >= 0 && slot < slot_count_) ? names_[slot] : nullptr;
}

LanguageTable& Table() {
  static LanguageTable table;
  return table;
}

bool LoadLanguageTable() { return Table().LoadBlob(kLanguageTableBlob, kLanguageTableBlobSize); }

const char16_t* GetText(int id) { return Table().GetText(id); }
const char16_t* GetGeneralText(int id) { return Table().GetGeneralText(id); }

TextView Txt(int id) {
  const char16_t* text = Table().GetText(id);
  return text ? TextView(text) : TextView();
}

}  // namespace nulvane::lang
