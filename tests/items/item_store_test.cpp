#include "items/item_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "platform/file_system.h"
#include "platform/path_rules.h"

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

// Path-like keys whose folder parts share starts: units just below and above the separator,
// names that are prefixes of others, keys ending in a separator and keys without one.
Text RandomPathKey(std::mt19937& random) {
  static const std::vector<Text> parts{u"",  u"a", u"ab", u"a.b",    u"a-",     u"a0",
                                       u"b", u"x", u".",  u"\x00E4", u"\x4E2D", u"a b"};
  Text key;
  const auto depth = std::uniform_int_distribution<int>(0, 3)(random);
  if (std::uniform_int_distribution<int>(0, 3)(random) != 0) key += platform::kPathSeparator;
  for (int level = 0; level < depth; ++level) {
    if (level > 0) key += platform::kPathSeparator;
    key += parts[std::uniform_int_distribution<std::size_t>(0, parts.size() - 1)(random)];
  }
  return key;
}

TEST(ItemStore, StoresErasuresAndReadsInAnyMixKeepTheKeysAndTheirOrder) {
  // Batches of stores are sorted and merged into the order when it is read, erasures leave it
  // at the next read, and an erased key may come back: the store must agree with a plain map
  // after every step.
  std::mt19937 random(7);
  ItemStore store;
  std::map<Text, std::uint64_t> model;
  for (int step = 0; step < 20000; ++step) {
    const Text key = RandomPathKey(random);
    const int action = std::uniform_int_distribution<int>(0, 9)(random);
    if (action < 6) {
      store.Store(key, static_cast<std::uint64_t>(step));
      model[key] = static_cast<std::uint64_t>(step);
    } else if (action < 8) {
      EXPECT_EQ(store.Erase(key), model.erase(key) == 1) << step;
    } else if (action == 8) {
      std::size_t expected = 0;
      for (auto it = model.upper_bound(key); it != model.end() && it->first.starts_with(key);) {
        it = model.erase(it);
        ++expected;
      }
      EXPECT_EQ(store.EraseBelow(key), expected) << step;
    } else {
      std::vector<Text> keys;
      for (const auto& [model_key, size] : model) keys.push_back(model_key);
      ASSERT_EQ(Keys(store), keys) << step;
    }
    ASSERT_EQ(store.size(), model.size()) << step;
  }
  std::vector<Text> keys;
  for (const auto& [key, size] : model) {
    keys.push_back(key);
    const ItemStore::EntryId entry = store.Find(key);
    ASSERT_NE(entry, ItemStore::kNoEntry);
    EXPECT_EQ(store.SizeOf(entry), size);
  }
  EXPECT_EQ(Keys(store), keys);
}

TEST(ItemStore, FolderListingsMergeIntoTheOrderWhereverTheirNamesFall) {
  // A listing stores one folder's names together; its batch is sorted by name and merged with
  // what is there. The folders here are each other's neighbours (a.b and a- sort inside a's
  // entries, a/x inside a's names), names share heads longer than eight bytes and differ only
  // by case (one key on Windows, the newest spelling kept), and some batches span two folders
  // or are longer than a sorted piece. Keys go in folded as the item list stores them.
  const Text sep(1, platform::kPathSeparator);
  const std::vector<Text> folders{sep + u"r" + sep,
                                  sep + u"r" + sep + u"a" + sep,
                                  sep + u"r" + sep + u"a.b" + sep,
                                  sep + u"r" + sep + u"a-" + sep,
                                  sep + u"r" + sep + u"a" + sep + u"x" + sep,
                                  sep + u"r" + sep + u"A" + sep + u"\x00E4" + sep};
  const std::vector<Text> stems{u"a",      u"A",         u"a.b",       u"a-",       u"x",
                                u"X",      u"long_name", u"LONG_name", u"long_nam", u"\x00E4",
                                u"\x00C4", u"\x4E2D",    u"b"};
  std::mt19937 random(2112);
  const auto pick = [&](std::size_t size) {
    return std::uniform_int_distribution<std::size_t>(0, size - 1)(random);
  };
  ItemStore store;
  std::map<Text, Text> model;  // key -> spelling
  const auto store_name = [&](const Text& folder, const Text& name) {
    const Text path = folder + name;
    const Text key = platform::FoldPathKey(path);
    store.Store(key, 1, 0, path);
    model[key] = path;
  };
  for (int batch = 0; batch < 200; ++batch) {
    const std::size_t spans = 1 + pick(2);
    for (std::size_t span = 0; span < spans; ++span) {
      const Text& folder = folders[pick(folders.size())];
      const std::size_t count = batch % 100 == 7 ? 4500 : 1 + pick(40);
      for (std::size_t i = 0; i < count; ++i) {
        Text name = stems[pick(stems.size())];
        if (pick(3) != 0) name += static_cast<char16_t>(u'0' + pick(10));
        if (count > 100) {
          for (const char c : std::to_string(i)) name += static_cast<char16_t>(c);
        }
        store_name(folder, name);
      }
    }
    if (pick(5) == 0) {
      const auto it = std::next(model.begin(), static_cast<std::ptrdiff_t>(pick(model.size())));
      EXPECT_TRUE(store.Erase(it->first));
      model.erase(it);
    }
    // Read now and then: the batches stored since the last read are merged together.
    if (pick(4) != 0 && batch % 100 != 7) continue;
    std::vector<Text> keys;
    for (const auto& [key, spelling] : model) keys.push_back(key);
    ASSERT_EQ(Keys(store), keys) << batch;
  }
  for (const auto& [key, spelling] : model) {
    const ItemStore::EntryId entry = store.Find(key);
    ASSERT_NE(entry, ItemStore::kNoEntry);
    EXPECT_EQ(store.SpellingOf(entry), spelling);
  }
}

TEST(ItemStore, KeysReadOneAfterAnotherComeBackWholeAcrossFoldersSpellingsAndAClear) {
  // Neighbouring keys share their folder part, which is encoded and decoded once for them: a
  // spelling of one row must not reach the next, and a clear gives folder parts new texts.
  ItemStore store;
  const ItemStore::EntryId spelt = store.Store(u"c:/d/a", 1, 0, u"C:/D/A");
  const ItemStore::EntryId plain = store.Store(u"c:/d/b", 1);
  const ItemStore::EntryId other = store.Store(u"c:/e/c", 1);
  EXPECT_EQ(store.SpellingOf(spelt), u"C:/D/A");
  EXPECT_EQ(store.KeyOf(plain), u"c:/d/b");
  EXPECT_EQ(store.KeyOf(other), u"c:/e/c");
  EXPECT_EQ(store.SpellingOf(plain), u"c:/d/b");
  EXPECT_EQ(store.Find(u"c:/d/b"), plain);
  store.Clear();
  // The folder part numbers start again: "c:/x/" now has the number "c:/d/" (read and looked
  // up last) had, and "c:/d/" names no folder part at all.
  const ItemStore::EntryId again = store.Store(u"c:/x/y", 1);
  EXPECT_EQ(store.KeyOf(again), u"c:/x/y");
  store.Store(u"c:/x/b", 1);
  EXPECT_EQ(store.Find(u"c:/d/b"), ItemStore::kNoEntry);
  EXPECT_EQ(store.KeyOf(store.Store(u"c:/d/b", 1)), u"c:/d/b");
  EXPECT_EQ(store.size(), 3u);
}

TEST(ItemStore, AFolderSortsAfterItsNeighboursThatAreBelowTheSeparator) {
  // A tree walk would give x, x/a, x.b; by code units "." is below the separator.
  const Text sep(1, platform::kPathSeparator);
  ItemStore store;
  for (const Text& key : {u"x" + sep + u"a", Text(u"x"), Text(u"x.b"), u"x.b" + sep + u"c",
                          Text(u"x-"), u"x" + sep + u"a" + sep + u"z", Text(u"xa")}) {
    store.Store(key, 1);
  }
  EXPECT_EQ(Keys(store),
            (std::vector<Text>{u"x", u"x-", u"x.b", u"x.b" + sep + u"c", u"x" + sep + u"a",
                               u"x" + sep + u"a" + sep + u"z", u"xa"}));
}

TEST(ItemStore, AFrozenCopyKeepsWhatTheEntriesWereWhateverTheStoreDoesAfter) {
  ItemStore store;
  platform::EntryIdentity identity{7, 42, 3, 99, platform::IdentityStamp::kBirthTime, true};
  const ItemStore::EntryId kept = store.Store(u"c:\\d\\kept", 5, 5, u"C:\\D\\Kept");
  store.SetIdentity(kept, identity);
  const ItemStore::EntryId other = store.Store(u"c:\\d\\other", 6, 5);
  const std::shared_ptr<const ItemStore::Frozen> frozen = store.Freeze();

  // Stored again (its identity is then unknown), looked at anew, erased, then all cleared.
  store.Store(u"c:\\d\\kept", 8, 3, u"c:\\d\\KEPT");
  store.SetIdentity(other, identity);
  store.SetFolder(kept, true);
  for (int i = 0; i < 5000; ++i) {
    store.Store(u"c:\\d\\more" + Text(1, static_cast<char16_t>(u'a' + i % 26)), 1);
  }
  store.Erase(u"c:\\d\\other");
  Text path;
  ASSERT_EQ(store.SpellingOf(kept), u"c:\\d\\KEPT");
  EXPECT_FALSE(store.IdentityOf(kept).known);
  store.Clear();
  store.Store(u"c:\\x", 1);

  frozen->SpellingOf(kept, path);
  EXPECT_EQ(path, u"C:\\D\\Kept");
  EXPECT_EQ(frozen->AnchorOf(kept), 5u);
  EXPECT_EQ(frozen->IdentityOf(kept), identity);
  frozen->KeyOf(other, path);
  EXPECT_EQ(path, u"c:\\d\\other");
  EXPECT_FALSE(frozen->IdentityOf(other).known);
}

TEST(ItemStore, IdentitiesComeBackWholeOnAnyNumberOfVolumes) {
  // The volume table holds a few hundred volumes; identities beyond it are kept whole.
  ItemStore store;
  std::vector<platform::EntryIdentity> identities;
  std::vector<Text> keys;
  for (std::uint64_t i = 0; i < 600; ++i) {
    keys.push_back(u"/v/" + Text(1, static_cast<char16_t>(u'a' + i % 26)) +
                   Text(1, static_cast<char16_t>(u'a' + (i / 26) % 26)));
    const ItemStore::EntryId entry = store.Store(keys.back(), i);
    identities.push_back({0x8000000000000000ull + i, ~i, i % 3 == 0 ? i : 0, i * 1000003,
                          static_cast<platform::IdentityStamp>(i % 5), i % 7 != 0});
    store.SetIdentity(entry, identities.back());
  }
  // Erased and stored again: the entry's whole identity goes with it.
  store.Erase(u"/v/aa");
  store.Store(u"/v/aa", 1);
  for (std::size_t i = 1; i < keys.size(); ++i) {
    EXPECT_EQ(store.IdentityOf(store.Find(keys[i])), identities[i]) << i;
  }
  EXPECT_EQ(store.IdentityOf(store.Find(u"/v/aa")), platform::EntryIdentity{});
}

TEST(ItemStore, SizesOfEveryRangeComeBackAsRecorded) {
  ItemStore store;
  const std::vector<std::uint64_t> sizes{0,
                                         0xFFFFFFFDull,
                                         0xFFFFFFFEull,
                                         0xFFFFFFFFull,
                                         std::uint64_t{1} << 40,
                                         ItemStore::kSizeNotRead - 1,
                                         ItemStore::kSizeNotRead};
  std::vector<ItemStore::EntryId> entries;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    entries.push_back(store.Store(u"/s/" + Text(1, static_cast<char16_t>(u'a' + i)), sizes[i]));
  }
  for (std::size_t i = 0; i < sizes.size(); ++i) EXPECT_EQ(store.SizeOf(entries[i]), sizes[i]);
  // Each size changed to the one of another range, then stored again with a small one.
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    store.ResolveSize(entries[i], sizes[(i + 3) % sizes.size()]);
  }
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    EXPECT_EQ(store.SizeOf(entries[i]), sizes[(i + 3) % sizes.size()]) << i;
  }
  store.Store(u"/s/e", 12);
  EXPECT_EQ(store.SizeOf(store.Find(u"/s/e")), 12u);
  store.ResolveSize(store.Find(u"/s/e"), sizes[4]);
  EXPECT_EQ(store.SizeOf(store.Find(u"/s/e")), sizes[4]);
}

}  // namespace
}  // namespace nulvane::items
