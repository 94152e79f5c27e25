// The built-in language table: up to 32 language slots of up to 256 texts each, plus a general
// block of language-independent texts, parsed in place once at start-up. A lookup is a bounds
// check and an array read; texts stay valid until the program ends.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

#include "lang/text_ids.h"
#include "platform/text.h"

namespace nulvane::lang {

inline constexpr int kMaxSlots = 32;
inline constexpr int kTextsPerSlot = 256;
inline constexpr int kGeneralTexts = 128;
inline constexpr int kDefaultSlot = 1;  // English

// Loading decodes only what the start needs: the general block, English (the fallback) and the
// current language, which come first in the table. The rest is decoded, from where the decoder
// stopped, the first time something asks for it (another language, the list of languages, the
// count). LZARI is one adaptive stream, so nothing can be skipped; it can only be stopped.
class LanguageTable {
 public:
  LanguageTable();
  ~LanguageTable();
  LanguageTable(const LanguageTable&) = delete;
  LanguageTable& operator=(const LanguageTable&) = delete;

  // Decodes an LZARI blob (4-byte little-endian size, then the bit stream) as far as the
  // general block, English and the current language go, and parses that; the blob must stay
  // (the built-in one does). Returns false for a blob too short to hold its header; any other
  // content, however malformed, loads into as many slots and texts as it holds.
  bool LoadBlob(const unsigned char* blob, std::size_t size);
  // Parses decoded table text (UTF-16LE bytes, byte-order mark first), all of it.
  void LoadText(const unsigned char* bytes, std::size_t size);

  // The text for `id` in the current language, else the default language; "==?" outside
  // 0..255; null when neither has the id. Never decodes: the current language is decoded
  // when it is set.
  const char16_t* GetText(int id) const;
  const char16_t* GetText(TextId id) const { return GetText(static_cast<int>(id)); }
  // The general block's text for `id` (0..127), null where there is none.
  const char16_t* GetGeneralText(int id) const;
  const char16_t* GetGeneralText(GeneralTextId id) const {
    return GetGeneralText(static_cast<int>(id));
  }
  // The text of `id` in `slot` only (null when absent or out of range).
  const char16_t* GetSlotText(int slot, int id) const;

  int SlotCount() const;
  // The slot's name (the two names with a tab between them), null for an unnamed slot.
  const char16_t* SlotName(int slot) const;

  // Decodes up to the slot `index` first, where it is not decoded yet.
  void SetCurrentLanguage(int index);
  int CurrentLanguage() const { return current_.load(std::memory_order_relaxed); }
  // Whether `index` selects a slot of its own (else lookups use the default language).
  bool IsUsableLanguage(int index) const;

  // The default language's section verbatim, as it stood before parsing: from the line feed
  // that ends its header line through the last line break before the next separator.
  TextView DefaultSectionCopy() const { return default_section_; }

  // The decoded text's size in bytes (the blob header's value).
  std::size_t DecodedSize() const { return decoded_size_; }
  // How many bytes of it have been decoded so far (benchmarks and tests).
  std::size_t DecodedSoFar() const;

 private:
  struct Loader;
  // Decodes and parses until the slot `slot` is parsed, or everything when `slot` is past
  // the last. Thread-safe; the slots parsed before stay as they are.
  void DecodeThrough(int slot) const;
  void Reset();
  static void ParseSection(char16_t* text, const char16_t** table, int max_id, bool unescape);

  std::vector<char16_t> text_;  // the decoded table, terminators written in place
  std::size_t decoded_size_ = 0;
  int slot_count_ = 0;  // slots found so far (all of them once the loader is done)
  std::array<const char16_t*, kMaxSlots> names_{};
  std::array<char16_t*, kMaxSlots> raw_{};
  std::unique_ptr<std::array<std::array<const char16_t*, kTextsPerSlot>, kMaxSlots>> texts_ =
      std::make_unique<std::array<std::array<const char16_t*, kTextsPerSlot>, kMaxSlots>>();
  std::array<const char16_t*, kGeneralTexts> general_{};
  Text default_section_;
  std::atomic<int> current_{kDefaultSlot};
  // Slots 0 .. parsed_slots_ - 1 are parsed; GetText reads only those.
  std::atomic<int> parsed_slots_{0};
  std::unique_ptr<Loader> loader_;  // the decoding and parsing still to do
};

// The program's one table, loaded from the built-in blob.
LanguageTable& Table();
bool LoadLanguageTable();

// Shorthands on the program's table. They take names only: a number reaches the table through
// LanguageTable itself, where a test checks the table's own contents.
const char16_t* GetText(TextId id);
const char16_t* GetGeneralText(GeneralTextId id);
// GetText as a view: empty where the table has no text.
TextView Txt(TextId id);

}  // namespace nulvane::lang
