#include "lang/language_table.h"

#include <algorithm>
#include <bit>
#include <mutex>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The text is decoded in pieces of this many bytes, so that a load stops soon after the last
// section it needs.
constexpr std::size_t kPieceBytes = 16 * 1024;

// Terminators after the text: four characters after a separator, and a whole block of the
// line scan after the last terminator it may stop at.
constexpr std::size_t kTerminators = 4 + 8;

// The first line feed or terminator at or after p. Reads whole blocks of 8 characters: up to
// 7 characters after the one it returns, which the buffer holds (kTerminators).
char16_t* FindLineEnd(char16_t* p) {
#if defined(__SSE2__)
  const __m128i line_feed = _mm_set1_epi16(u'\n');
  const __m128i zero = _mm_setzero_si128();
  for (;; p += 8) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int stops = _mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi16(here, line_feed), _mm_cmpeq_epi16(here, zero)));
    if (stops != 0) return p + __builtin_ctz(stops) / 2;
  }
#else
  while (*p != u'\n' && *p != u'\0') ++p;
  return p;
#endif
}

// The first p in [from, end - 1) where text[p] and text[p + 1] are both '#', else end - 1.
// from + 1 < end.
std::size_t FindSeparator(const char16_t* text, std::size_t from, std::size_t end) {
  std::size_t p = from;
#if defined(__SSE2__)
  // Eight places at a time: separators are a few dozen in 100,000 characters.
  const __m128i hash = _mm_set1_epi16(u'#');
  for (; p + 9 <= end; p += 8) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + p));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + p + 1));
    const int both =
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi16(here, hash), _mm_cmpeq_epi16(next, hash)));
    if (both != 0) return p + static_cast<std::size_t>(__builtin_ctz(both)) / 2;
  }
#endif
  for (; p + 1 < end; ++p) {
    if (text[p] == u'#' && text[p + 1] == u'#') return p;
  }
  return end - 1;
}

}  // namespace

// What is left to decode and parse, and where the separator scan stands.
struct LanguageTable::Loader {
  std::mutex mutex;
  std::unique_ptr<LzariStream> stream;  // null once everything is decoded
  std::size_t length = 0;               // the whole text, in UTF-16 units
  std::size_t decoded = 0;              // text_[0, decoded) holds decoded text
  std::size_t scan = 0;                 // where the separator scan goes on
  int separators = 0;
  char16_t* general = nullptr;
  int open_slot = -1;  // the slot whose block the scan is in
  bool done = false;   // the scan has reached the end of the text
};

LanguageTable::LanguageTable() : loader_(std::make_unique<Loader>()) {
  loader_->done = true;  // nothing loaded: nothing to decode
}
LanguageTable::~LanguageTable() = default;

void LanguageTable::Reset() {
  slot_count_ = 0;
  names_.fill(nullptr);
  raw_.fill(nullptr);
  for (auto& slot : *texts_) slot.fill(nullptr);
  general_.fill(nullptr);
  default_section_.clear();
  parsed_slots_.store(0, std::memory_order_release);
  loader_ = std::make_unique<Loader>();
}

bool LanguageTable::LoadBlob(const unsigned char* blob, std::size_t size) {
  if (!blob || size < 4) {
    LoadText(nullptr, 0);
    return false;
  }
  auto stream = std::make_unique<LzariStream>(blob, size);
  if (stream->Size() > kMaxDecodedSize) {
    LoadText(nullptr, 0);
    return false;
  }
  Reset();
  decoded_size_ = stream->Size();
  loader_->length = decoded_size_ / 2;  // an odd last byte is no character
  // Terminators after the text (kTerminators), so that every "four characters after a
  // separator" that runs past the end lands on one, and the line scan may read a block past
  // one, never outside the buffer. Sized once: texts handed out point into it while the rest
  // is decoded.
  text_.assign(loader_->length + kTerminators, u'\0');
  loader_->stream = std::move(stream);
  DecodeThrough(std::max(kDefaultSlot, CurrentLanguage()));
  return true;
}

void LanguageTable::LoadText(const unsigned char* bytes, std::size_t size) {
  Reset();
  decoded_size_ = size;
  const std::size_t units = size / 2;  // an odd last byte is no character
  text_.assign(units + kTerminators, u'\0');
  for (std::size_t i = 0; i < units; ++i) {
    text_[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  loader_->length = units;
  loader_->decoded = units;
  DecodeThrough(kMaxSlots);
}

std::size_t LanguageTable::DecodedSoFar() const {
  std::lock_guard lock(loader_->mutex);
  return loader_->stream ? loader_->stream->Produced() : decoded_size_;
}

void LanguageTable::DecodeThrough(int wanted_slot) const {
  // The table is one object for the program's whole run; what a const look-up needs decoded
  // is decoded into it once, under the loader's lock, without moving anything handed out.
  auto& self = const_cast<LanguageTable&>(*this);
  Loader& loader = *self.loader_;
  std::lock_guard lock(loader.mutex);
  char16_t* text = self.text_.data();
  const std::size_t length = loader.length;

  // Decodes the next piece of the text straight into `text`; false when there is none.
  auto decode_more = [&]() -> bool {
    if (!loader.stream) return false;
    LzariStream& stream = *loader.stream;
    // Whole characters only: an odd last byte is none.
    const std::size_t end = 2 * length;
    const std::size_t want = std::min<std::size_t>(kPieceBytes, end - stream.Produced());
    if constexpr (std::endian::native == std::endian::little) {
      // UTF-16LE bytes are the characters' own bytes here.
      stream.Read(reinterpret_cast<unsigned char*>(text) + stream.Produced(), want);
    } else {
      unsigned char bytes[kPieceBytes];
      const std::size_t from = stream.Produced() / 2;
      const std::size_t got = stream.Read(bytes, want);
      for (std::size_t k = 0; k + 1 < got; k += 2) {
        text[from + k / 2] = static_cast<char16_t>(bytes[k] | (bytes[k + 1] << 8));
      }
    }
    loader.decoded = stream.Produced() / 2;
    if (loader.decoded >= length || stream.Produced() >= stream.Size()) loader.stream.reset();
    return true;
  };
  // Makes text[index] decoded text (or a terminator past the end).
  auto have = [&](std::size_t index) {
    while (index >= loader.decoded && decode_more()) {
    }
  };
  // A block starts `offset` characters after its separator, or at the end of the text.
  auto after = [&](std::size_t separator, std::size_t offset) {
    return text + std::min(separator + offset, length);
  };
  // The block the scan was in has ended (its last character is a terminator now).
  auto finish_block = [&] {
    if (loader.separators == 1 && loader.general) {
      ParseSection(loader.general, self.general_.data(), kGeneralTexts - 1, true);
    }
    const int slot = loader.open_slot;
    if (slot < 0) return;
    loader.open_slot = -1;
    if (slot == kDefaultSlot && self.raw_[slot]) self.default_section_ = self.raw_[slot];
    ParseSection(self.raw_[slot], (*self.texts_)[slot].data(), kTextsPerSlot - 1, false);
    self.parsed_slots_.store(slot + 1, std::memory_order_release);
  };

  while (!loader.done && self.parsed_slots_.load(std::memory_order_relaxed) <= wanted_slot) {
    std::size_t& i = loader.scan;
    // A separator is two characters: text[i + 1] must be decoded to tell.
    if (i + 1 >= loader.decoded && decode_more()) continue;
    if (i + 1 >= length) {
      // The end of the text ends the last block.
      finish_block();
      loader.done = true;
      break;
    }
    i = FindSeparator(text, i, loader.decoded);
    if (i + 1 >= loader.decoded) continue;  // none in what is decoded so far
    text[i] = u'\0';
    finish_block();
    const int k = loader.separators++;
    std::size_t next = i + 2;
    if (k == 0) {
      loader.general = after(i, 4);
    } else if (k >= 3 && self.slot_count_ < kMaxSlots) {
      const int slot = self.slot_count_++;
      loader.open_slot = slot;
      have(i + 2);
      if (text[i + 2] == u'=') {
        std::size_t cr = i + 3;
        for (have(cr); cr < length && text[cr] != u'\r'; have(++cr)) {
        }
        if (cr < length) {
          text[cr] = u'\0';
          self.names_[slot] = text + i + 3;
          self.raw_[slot] = text + cr + 1;
          next = cr + 1;
        }
      } else {
        self.raw_[slot] = after(i, 4);
      }
    }
    i = next;
  }
}

void LanguageTable::ParseSection(char16_t* text, const char16_t** table, int max_id,
                                 bool unescape) {
  if (!text) return;
  char16_t* line = text;
  for (char16_t* p = FindLineEnd(text); *p; p = FindLineEnd(line)) {
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

void LanguageTable::SetCurrentLanguage(int index) {
  DecodeThrough(index);
  current_.store(index, std::memory_order_relaxed);
}

bool LanguageTable::IsUsableLanguage(int index) const {
  if (index < 0 || index >= kMaxSlots) return false;
  DecodeThrough(index);
  return index < slot_count_;
}

const char16_t* LanguageTable::GetText(int id) const {
  if (id < 0 || id >= kTextsPerSlot) return kUnknownId;
  const int language = CurrentLanguage();  // read once: a concurrent change is seen whole
  // Setting a language decoded it; a slot not parsed is one the table does not have.
  if (language >= 0 && language < parsed_slots_.load(std::memory_order_acquire)) {
    if (const char16_t* text = (*texts_)[language][id]) return text;
  }
  return (*texts_)[kDefaultSlot][id];
}

const char16_t* LanguageTable::GetGeneralText(int id) const {
  return (id >= 0 && id < kGeneralTexts) ? general_[id] : nullptr;
}

int LanguageTable::SlotCount() const {
  DecodeThrough(kMaxSlots);
  return slot_count_;
}

const char16_t* LanguageTable::GetSlotText(int slot, int id) const {
  if (slot < 0 || slot >= kMaxSlots || id < 0 || id >= kTextsPerSlot) return nullptr;
  DecodeThrough(slot);
  if (slot >= slot_count_) return nullptr;
  return (*texts_)[slot][id];
}

const char16_t* LanguageTable::SlotName(int slot) const {
  if (slot < 0 || slot >= kMaxSlots) return nullptr;
  DecodeThrough(slot);
  return slot < slot_count_ ? names_[slot] : nullptr;
}

LanguageTable& Table() {
  static LanguageTable table;
  return table;
}

bool LoadLanguageTable() { return Table().LoadBlob(kLanguageTableBlob, kLanguageTableBlobSize); }

const char16_t* GetText(TextId id) { return Table().GetText(id); }
const char16_t* GetGeneralText(GeneralTextId id) { return Table().GetGeneralText(id); }

TextView Txt(TextId id) {
  const char16_t* text = Table().GetText(id);
  return text ? TextView(text) : TextView();
}

}  // namespace nulvane::lang
