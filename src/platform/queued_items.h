// The rows of the item list as a deletion run receives them, kept compactly: either read from a
// frozen copy of the item list's store (a Source: a few bytes a row, each path built when its
// row is read), or, for rows given by hand, every path in one shared buffer, each row an offset,
// a length, its anchor's length, its identity and the index of its anchor's identity (rows
// mostly share their anchor). A run over 100,000 entries then holds no copy of their text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <vector>

#include "platform/file_system.h"
#include "platform/text.h"

namespace nulvane::platform {

// One row, read as a copy: it owns its path, so a reference made by Ref() is valid while the row
// lives.
using QueuedItemView = QueuedItem;

class QueuedItems {
 public:
  // Rows kept elsewhere, never changed once made; read on the run's thread.
  class Source {
   public:
    virtual ~Source() = default;
    virtual std::size_t size() const = 0;
    // Fills every field of `view` for row `index` (< size()).
    virtual void Read(std::size_t index, QueuedItemView& view) const = 0;
  };

  QueuedItems() = default;
  explicit QueuedItems(std::shared_ptr<const Source> source) : source_(std::move(source)) {}
  // From owned rows (tests, and callers that build a list by hand).
  QueuedItems(const std::vector<QueuedItem>& items);  // NOLINT(google-explicit-constructor)

  // Room for `rows` rows of `units` path units in all. Reserve and Add only for rows kept here
  // (not given a Source).
  void Reserve(std::size_t rows, std::size_t units);
  void Add(TextView path, std::size_t anchor_length, const EntryIdentity& identity,
           const EntryIdentity& anchor_identity);
  void Add(const QueuedItem& item) {
    Add(item.path, item.anchor_length, item.identity, item.anchor_identity);
  }

  std::size_t size() const { return source_ ? source_->size() : rows_.size(); }
  bool empty() const { return size() == 0; }
  QueuedItemView operator[](std::size_t index) const;

  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = QueuedItemView;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = QueuedItemView;
    const_iterator(const QueuedItems* items, std::size_t index) : items_(items), index_(index) {}
    QueuedItemView operator*() const { return (*items_)[index_]; }
    const_iterator& operator++() {
      ++index_;
      return *this;
    }
    bool operator==(const const_iterator& other) const { return index_ == other.index_; }

   private:
    const QueuedItems* items_;
    std::size_t index_;
  };
  const_iterator begin() const { return const_iterator(this, 0); }
  const_iterator end() const { return const_iterator(this, size()); }

 private:
  struct Row {
    std::size_t offset = 0;
    std::uint32_t length = 0;
    std::uint32_t anchor_length = 0;
    std::uint32_t anchor = 0;  // index in anchors_
    EntryIdentity identity;
  };
  std::shared_ptr<const Source> source_;
  Text paths_;
  std::vector<Row> rows_;
  std::vector<EntryIdentity> anchors_;
};

}  // namespace nulvane::platform
