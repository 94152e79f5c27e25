#include "items/item_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace nulvane::items {
namespace {

std::vector<Text> Keys(const ItemStore& store) {
  std::vector<Text> keys;
  for (const ItemStore::EntryId entry : store) keys.push_back(store.KeyOf(entry));
  return keys;
}

TEST(ItemStore, OrdersByUtf16CodeUnitsWithPrefixFirst) {
  ItemStore store;
  // U+10000 is the surrogate pair D800 DC00: by code units it sorts below U+E000 and U+FFFD,
  // by code points (or UTF-8 bytes) above them.
  for (const Text& key : {Text(u"c:\\f\\sub\\b.txt"), Text(u"c:\\f-x"), Text(u"c:\\f\\\xFFFD"),
                          Text(u"c:\\f\\sub"), Text(u"c:\\f\\\xD800\xDC00"), Text(u"c:\\f"),
                          Text(u"c:\\f\\\xE000"), Text(u"c:\\f\\a.txt")}) {
    store.Store(key, 1);
  }
  EXPECT_EQ(Keys(store), (std::vector<Text>{u"c:\\f", u"c:\\f-x", u"c:\\f\\a.txt", u"c:\\f\\sub",
                                            u"c:\\f\\sub\\b.txt", u"c:\\f\\\xD800\xDC00",
                                            u"c:\\f\\\xE000", u"c:\\f\\\xFFFD"}));
}

TEST(ItemStore, StoringAKeyAgainReplacesOnlyItsSize) {
  ItemStore store;
  store.Store(u"/d/a", 5);
  store.Store(u"/d/b", 7);
  store.Store(u"/d/a", 9);
  ASSERT_EQ(store.size(), 2u);
  ASSERT_NE(store.Find(u"/d/a"), ItemStore::kNoEntry);
  EXPECT_EQ(store.SizeOf(store.Find(u"/d/a")), 9u);
  EXPECT_EQ(store.SizeOf(store.Find(u"/d/b")), 7u);
  EXPECT_EQ(store.Find(u"/d/c"), ItemStore::kNoEntry);
}

TEST(ItemStore, KeysOfAnyLengthStayWholeAndStableUntilClear) {
  ItemStore store;
  // Longer than an arena block's share, with units of every encoded width.
  Text long_key = u"/" + Text(200000, u'x');
  for (std::size_t i = 1; i < long_key.size(); i += 3) long_key[i] = u'\x4E2D';
  for (std::size_t i = 2; i < long_key.size(); i += 3) long_key[i] = u'\x0416';
  const ItemStore::EntryId first = store.Store(long_key, 1);
  std::vector<Text> expected{long_key};
  // Enough keys to fill several arena chunks after the long one.
  for (int i = 0; i < 20000; ++i) {
    Text key = u"/d/" + Text(static_cast<std::size_t>(i % 50), u'k');
    key += static_cast<char16_t>(u'A' + i % 26);
    key += static_cast<char16_t>(u'A' + (i / 26) % 26);
    key += static_cast<char16_t>(u'A' + (i / 676) % 26);
    store.Store(key, static_cast<std::uint64_t>(i));
  }
  EXPECT_EQ(store.KeyOf(first), long_key);  // the entry taken before is valid and whole
  EXPECT_EQ(store.size(), 20001u);
  for (const ItemStore::EntryId entry : store) {
    const Text key = store.KeyOf(entry);
    if (key == long_key) continue;
    EXPECT_EQ(key.substr(0, 3), u"/d/");
  }
  store.Clear();
  EXPECT_TRUE(store.empty());
  EXPECT_EQ(store.begin(), store.end());
  store.Store(u"/again", 3);
  EXPECT_EQ(Keys(store), std::vector<Text>{u"/again"});
}

TEST(ItemStore, ASpellingComesBackWholeAndTheNewestWins) {
  ItemStore store;
  // Differences far apart and of every encoded width: ASCII, Cyrillic, full-width Latin.
  Text key = u"c:\\" + Text(300, u'x') + u"\\\x0436\xFF41.md";
  Text spelling = key;
  spelling[0] = u'C';
  spelling[200] = u'X';
  spelling[key.size() - 5] = u'\x0416';
  spelling[key.size() - 4] = u'\xFF21';
  const ItemStore::EntryId entry = store.Store(key, 1, 3, spelling);
  EXPECT_EQ(store.KeyOf(entry), key);
  EXPECT_EQ(store.SpellingOf(entry), spelling);

  // A path spelt as its key keeps no spelling at all.
  const ItemStore::EntryId plain = store.Store(u"c:\\plain", 2, 3, u"c:\\plain");
  EXPECT_FALSE(store.HasSpelling(plain));
  EXPECT_EQ(store.SpellingOf(plain), u"c:\\plain");

  // Stored again: the newest spelling is the one the system gave last; none given keeps it.
  Text newer = key;
  newer[3] = u'X';
  store.Store(key, 5, 3, newer);
  EXPECT_EQ(store.SpellingOf(store.Find(key)), newer);
  store.Store(key, 6, 3);
  EXPECT_EQ(store.SpellingOf(store.Find(key)), newer);
  EXPECT_EQ(store.size(), 2u);
}

TEST(ItemStore, EveryCodeUnitComesBackAsStoredAndInUnitOrder) {
  ItemStore store;
  for (std::uint32_t unit = 0xFFFF;; --unit) {
    store.Store(Text(u"k") + static_cast<char16_t>(unit) + u"z", unit);
    if (unit == 0) break;
  }
  ASSERT_EQ(store.size(), 0x10000u);
  std::uint32_t expected = 0;
  for (const ItemStore::EntryId entry : store) {
    ASSERT_EQ(store.KeyOf(entry), Text(u"k") + static_cast<char16_t>(expected) + u"z");
    ASSERT_EQ(store.SizeOf(entry), expected);
    ++expected;
  }
}

TEST(ItemStore, RandomKeysKeepTheOrderOfTheirCodeUnits) {
  std::mt19937 random(20240601);
  // Units from every encoded width, the boundaries between them, and the separators.
  const std::vector<char16_t> alphabet{0x0000, 0x002D, 0x002F, 0x005C, 0x0061, 0x007F,
                                       0x0080, 0x00E4, 0x00FF, 0x0100, 0x3FFF, 0x4000,
                                       0x4E2D, 0xD800, 0xDC00, 0xE000, 0xFFFD, 0xFFFF};
  std::vector<Text> keys;
  for (int i = 0; i < 4000; ++i) {
    Text key;
    const auto length = std::uniform_int_distribution<int>(0, 12)(random);
    for (int j = 0; j < length; ++j) {
      key += alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(random)];
    }
    keys.push_back(key);
  }
  ItemStore store;
  for (std::size_t i = 0; i < keys.size(); ++i) store.Store(keys[i], i);

  std::vector<Text> sorted = keys;
  std::sort(sorted.begin(), sorted.end());  // std::u16string: unsigned code units
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  EXPECT_EQ(Keys(store), sorted);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const ItemStore::EntryId entry = store.Find(keys[i]);
    ASSERT_NE(entry, ItemStore::kNoEntry);
    EXPECT_EQ(store.KeyOf(entry), keys[i]);
    // The last store of a key gave it its size.
    EXPECT_EQ(keys[store.SizeOf(entry)], keys[i]);
    EXPECT_GE(store.SizeOf(entry), i);
  }
}

}  // namespace
}  // namespace nulvane::items
