#include "platform/queued_items.h"

#include <algorithm>
#include <stdexcept>

namespace nulvane::platform {

QueuedItems::QueuedItems(const std::vector<QueuedItem>& items) {
  std::size_t units = 0;
  for (const QueuedItem& item : items) units += item.path.size();
  Reserve(items.size(), units);
  for (const QueuedItem& item : items) Add(item);
}

void QueuedItems::Reserve(std::size_t rows, std::size_t units) {
  rows_.reserve(rows);
  paths_.reserve(units);
}

void QueuedItems::Add(TextView path, std::size_t anchor_length, const EntryIdentity& identity,
                      const EntryIdentity& anchor_identity) {
  if (source_) throw std::logic_error("QueuedItems::Add on rows read from a source");
  Row row;
  row.offset = paths_.size();
  row.length = static_cast<std::uint32_t>(path.size());
  row.anchor_length = static_cast<std::uint32_t>(std::min(anchor_length, path.size()));
  // Rows of one added path follow each other and share its anchor: one entry for them all.
  if (anchors_.empty() || !(anchors_.back() == anchor_identity))
    anchors_.push_back(anchor_identity);
  row.anchor = static_cast<std::uint32_t>(anchors_.size() - 1);
  row.identity = identity;
  paths_.append(path);
  rows_.push_back(row);
}

QueuedItemView QueuedItems::operator[](std::size_t index) const {
  QueuedItemView view;
  if (source_) {
    source_->Read(index, view);
    return view;
  }
  const Row& row = rows_[index];
  view.path = TextView(paths_).substr(row.offset, row.length);
  view.anchor_length = row.anchor_length;
  view.identity = row.identity;
  view.anchor_identity = anchors_[row.anchor];
  return view;
}

}  // namespace nulvane::platform
