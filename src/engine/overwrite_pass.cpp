#include "engine/overwrite_pass.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "lang/language_table.h"
#include "platform/format.h"

namespace nulvane::engine {

namespace {

using platform::Format;
using platform::IoResult;
using platform::OpenFile;

// Language-table ids of the texts this file shows.
using lang::TextId;

// Writes past the system's cache (the body of a large object): bytes per request, all from
// one zero buffer aligned for every alignment a file system may demand.
constexpr std::size_t kDirectBlock = 1u << 20;
constexpr std::size_t kMaxDirectAlignment = 64u * 1024;
// Spans shorter than this go through the cache: their few pages neither pollute it nor wait
// long for the flush, and readying writes past the cache costs calls of its own.
constexpr std::uint64_t kDirectMinimum = 64u * 1024;

// kDirectBlock zero bytes at an address aligned to kMaxDirectAlignment, shared by every pass
// of the process (it is never written); null where the memory could not be had.
const unsigned char* DirectZeros() {
  struct AlignedFree {
    void operator()(unsigned char* block) const {
      ::operator delete (block, std::align_val_t{kMaxDirectAlignment});
    }
  };
  static const std::unique_ptr<unsigned char, AlignedFree> zeros = [] {
    auto* block = static_cast<unsigned char*>(
        ::operator new (kDirectBlock, std::align_val_t{kMaxDirectAlignment}, std::nothrow));
    if (block) std::memset(block, 0, kDirectBlock);
    return std::unique_ptr<unsigned char, AlignedFree>(block);
  }();
  return zeros.get();
}

// Where the writes of a span may go past the cache: the alignment their offset and length
// need (a power of two, at most kMaxDirectAlignment) and the aligned zeros they come from.
struct DirectPath {
  std::uint64_t block = 0;
  const unsigned char* zeros = nullptr;
};

// Writes zero bytes from `offset` (the file's current position) up to `end`. With `direct`,
// each stretch that starts on its alignment and holds at least one aligned block goes past the
// cache in requests of up to kDirectBlock whole blocks; what lies before the first aligned
// offset and after the last aligned block goes through the cache. Through the cache, whole
// blocks of kWriteBlock bytes at multiples of kWriteBlock are handed to the system up to
// kBlocksPerRequest at a time, then the remainder as the last block, so the file keeps its
// length. A short write goes on with the rest (through the cache up to the next aligned
// offset, should it leave one that is not); only what the system accepted counts as written.
// After each request the size is read again from the handle: below `floor` (the size the pass
// started from), another program cut the file short, and the blocks it gave up were never
// overwritten; our next writes would grow it back over new blocks and hide that. `shrank`
// then says so and the writing stops. Returns the first failure (a write that accepted nothing
// counts as one).
IoResult WriteZeros(WipeTools& tools, OpenFile& file, std::uint64_t offset, std::uint64_t end,
                    std::uint64_t floor, const DirectPath* direct, RunTally& tally, bool& shrank) {
  const unsigned char* zeros = tools.zero_buffer.data();
  while (offset < end) {
    std::size_t written = 0;
    IoResult result;
    if (direct && offset % direct->block == 0 && end - offset >= direct->block) {
      const auto size = static_cast<std::size_t>(
          std::min<std::uint64_t>((end - offset) / direct->block * direct->block, kDirectBlock));
      result = file.WriteDirect(direct->zeros, size, written);
      written = std::min(written, size);
    } else {
      // Through the cache: up to `end`, or with writes past the cache up to where they can
      // start (the next aligned offset) or the end of the span's last aligned block.
      const std::uint64_t limit =
          direct ? std::min(end, (offset / direct->block + 1) * direct->block) : end;
      const std::uint64_t remaining = limit - offset;
      const auto into_block = static_cast<std::size_t>(offset % kWriteBlock);
      if (into_block == 0 && remaining >= kWriteBlock) {
        const auto count = static_cast<std::size_t>(
            std::min<std::uint64_t>(remaining / kWriteBlock, kBlocksPerRequest));
        result = file.WriteRepeated(zeros, kWriteBlock, count, written);
        written = std::min(written, count * kWriteBlock);
      } else {
        // The rest of a block a short write left, or the span's last, shorter block.
        const auto rest =
            static_cast<std::size_t>(std::min<std::uint64_t>(kWriteBlock - into_block, remaining));
        result = file.Write(zeros, rest, written);
        written = std::min(written, rest);
      }
    }
    offset += written;
    tally.written_bytes += written;
    tools.progress.Report(tally.written_bytes, tally.total_bytes);
    if (!result) return result;
    if (written == 0) return IoResult::Fail(IoResult::kGenericFailure);
    std::uint64_t now = 0;
    if (IoResult looked = file.CurrentSize(now); !looked) return looked;
    if (now < floor) {
      shrank = true;
      return IoResult::Ok();
    }
  }
  return IoResult::Ok();
}

// The first byte of `data` that is not zero, or `size`.
std::size_t FirstNonZero(const unsigned char* data, std::size_t size) {
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, data + i, 8);
    if (word != 0) break;
  }
  for (; i < size; ++i) {
    if (data[i] != 0) return i;
  }
  return size;
}

// Reads the object back past the system's cache; true when every byte is zero. With `ranges`
// only those are read (a sparse file's holes read as zeros and hold no block). A byte that is
// not zero, or a read-back that fails, is an error line (false): the file is kept.
bool VerifyZeros(WipeTools& tools, OpenFile& file, TextView path,
                 const std::vector<platform::ByteRange>* ranges, RunTally& tally) {
  std::unique_ptr<platform::UncachedReader> reader;
  IoResult result = file.OpenUncachedReader(reader);
  std::uint64_t offset = 0;
  // Reads from `from` (at or after `offset`) until `to` or the object's end.
  auto read_span = [&](std::uint64_t from, std::uint64_t to) {
    if (from > offset) {
      result = reader->Seek(from, offset);
      if (!result) return false;
    }
    while (offset < to) {
      const unsigned char* data = nullptr;
      std::size_t size = 0;
      result = reader->ReadNext(data, size);
      if (!result || size == 0) return result.ok();
      const std::size_t bad = FirstNonZero(data, size);
      if (bad < size) {
        AddError(tools, tally, Format(lang::Txt(TextId::kNotZero), path, offset + bad));
        return false;
      }
      offset += size;
    }
    return true;
  };
  if (result) {
    bool clean = true;
    if (ranges) {
      for (const platform::ByteRange& range : *ranges) {
        clean = read_span(range.offset, range.offset + range.length);
        if (!clean) break;
      }
    } else {
      clean = read_span(0, UINT64_MAX);
    }
    if (!clean && result) return false;  // a byte that is not zero, already reported
  }
  if (!result) {
    AddError(
        tools, tally,
        Format(lang::Txt(TextId::kCannotReadBack), path, platform::SystemErrorText(result.error)));
    return false;
  }
  return true;
}

// One pass over one open object: the unnamed data of a file, or one of its named streams. Only
// what holds data is written: a sparse object's holes count as done without a write. What the
// object grows by meanwhile is overwritten too; an object that gets shorter is reported.
class ObjectPass {
 public:
  // `shown` names the object in lines (the file's path, or "path:stream").
  ObjectPass(WipeTools& tools, OpenFile& file, TextView shown, bool may_have_holes, RunTally& tally)
      : tools_(tools), file_(file), shown_(shown), may_have_holes_(may_have_holes), tally_(tally) {}

  // Overwrites the object from 0 to `size` (its size when it was opened; it stands at offset
  // 0) and forces that to the device, then what it grew by, and on `verify` reads it back.
  // `before` is the size the previous pass left (0 on the first): an object found shorter was
  // cut short between the passes. False (reported) when the object must be kept. On success
  // `covered` is the size the pass overwrote.
  bool Run(std::uint64_t size, std::uint64_t before, bool verify, std::uint64_t& covered) {
    covered = size;
    if (size < before) return Shrank();
    std::vector<platform::ByteRange> ranges;
    bool ranged = Ranges(size, ranges);
    if (!OverwriteSpan(0, size, size, ranged ? &ranges : nullptr)) return false;
    if (IoResult flushed = file_.Flush(); !flushed) return Failed(flushed);
    if (!OverwriteGrowth(covered)) return false;
    if (!verify) return true;
    if (ranged && !Ranges(covered, ranges)) ranged = false;
    return VerifyZeros(tools_, file_, shown_, ranged ? &ranges : nullptr, tally_);
  }

 private:
  // The data ranges of [0, size), for an object that may have holes; false (overwrite the
  // whole) for any other, or when the file system cannot tell.
  bool Ranges(std::uint64_t size, std::vector<platform::ByteRange>& ranges) {
    if (!may_have_holes_) return false;
    position_ = kUnknownPosition;  // the system's look for holes may move it
    return file_.DataRanges(size, ranges).ok();
  }

  // Overwrites [from, to): only `ranges` within it where given, the holes between them
  // counted as done. `floor` is the size below which the object counts as cut short.
  bool OverwriteSpan(std::uint64_t from, std::uint64_t to, std::uint64_t floor,
                     const std::vector<platform::ByteRange>* ranges) {
    std::uint64_t done = from;
    auto write = [&](std::uint64_t start, std::uint64_t end) {
      CountAsDone(start - done);
      if (start != position_) {
        if (IoResult moved = file_.Seek(start); !moved) return Failed(moved);
        position_ = start;
      }
      bool shrank = false;
      const DirectPath* direct = end - start >= kDirectMinimum ? Direct() : nullptr;
      const IoResult result = WriteZeros(tools_, file_, start, end, floor, direct, tally_, shrank);
      if (!result) return Failed(result);
      if (shrank) return Shrank();
      position_ = end;
      done = end;
      return true;
    };
    if (!ranges) return write(from, to);
    for (const platform::ByteRange& range : *ranges) {
      const std::uint64_t start = std::max(range.offset, from);
      const std::uint64_t end = std::min(range.offset + range.length, to);
      if (start < end && start >= done && !write(start, end)) return false;
    }
    CountAsDone(to - done);
    return true;
  }

  // The way past the cache for this object, readied on the first span long enough to take
  // it; null where the file system offers none or demands an alignment beyond what the zeros
  // have (everything then goes through the cache).
  const DirectPath* Direct() {
    if (!direct_asked_) {
      direct_asked_ = true;
      OpenFile::DirectAlignment alignment;
      const unsigned char* zeros = DirectZeros();
      if (zeros && file_.StartDirectWrites(alignment) && Suits(alignment.block) &&
          (alignment.memory == 0 || Suits(alignment.memory))) {
        direct_ = DirectPath{alignment.block, zeros};
      }
    }
    return direct_.zeros ? &direct_ : nullptr;
  }

  // A power of two that kDirectBlock and the zeros' address are multiples of.
  static bool Suits(std::uint32_t alignment) {
    return alignment != 0 && (alignment & (alignment - 1)) == 0 && alignment <= kMaxDirectAlignment;
  }

  // A hole holds no data: it is done without a write, and the progress says so.
  void CountAsDone(std::uint64_t bytes) {
    if (bytes == 0) return;
    tally_.written_bytes += bytes;
    tools_.progress.Report(tally_.written_bytes, tally_.total_bytes);
  }

  // After the pass has written and flushed `covered` bytes: what the object grew by meanwhile
  // (another program appending to it) is overwritten and flushed too, until a look at the size
  // finds no growth. One still growing after kMaxGrowthRounds rounds, or one that got shorter,
  // is an error line (false). Growth joins the run's total, so that the percentage stays what
  // was really written.
  bool OverwriteGrowth(std::uint64_t& covered) {
    for (int round = 0;; ++round) {
      std::uint64_t size = 0;
      if (IoResult looked = file_.CurrentSize(size); !looked) return Failed(looked);
      if (size < covered) return Shrank();
      if (size == covered) return true;
      if (round == kMaxGrowthRounds) {
        AddError(tools_, tally_, Format(lang::Txt(TextId::kKeptGrowing), shown_));
        return false;
      }
      tally_.total_bytes += size - covered;
      std::vector<platform::ByteRange> ranges;
      const bool ranged = Ranges(size, ranges);
      if (!OverwriteSpan(covered, size, size, ranged ? &ranges : nullptr)) return false;
      if (IoResult flushed = file_.Flush(); !flushed) return Failed(flushed);
      covered = size;
    }
  }

  bool Failed(IoResult result) {
    AddError(tools_, tally_, FailureLine(shown_, result));
    return false;
  }

  // Another program made the object shorter: the blocks it gave up went back to the free
  // space without our zeros. It is kept, and the line says what reaches those blocks.
  bool Shrank() {
    AddError(tools_, tally_, Format(lang::Txt(TextId::kShrank), shown_));
    return false;
  }

  WipeTools& tools_;
  OpenFile& file_;
  TextView shown_;
  bool may_have_holes_;
  RunTally& tally_;
  static constexpr std::uint64_t kUnknownPosition = UINT64_MAX;
  std::uint64_t position_ = 0;  // where the next write starts; an object opens at 0
  bool direct_asked_ = false;
  DirectPath direct_;  // zeros null: every write goes through the cache
};

}  // namespace

void AddError(WipeTools& tools, RunTally& tally, TextView line) {
  tools.host.AddMessage(line, MessageKind::kError);
  ++tally.error_count;
}

// "<path>: <system error text>", or the program's own text for the errors it names itself.
Text FailureLine(TextView path, IoResult result) {
  if (result.error == IoResult::kPathTooLong) return Format(lang::Txt(TextId::kPathTooLong), path);
  if (result.error == IoResult::kNotRegularFile)
    return Format(lang::Txt(TextId::kNotRegularFile), path);
  Text line(path);
  line += u": ";
  line += platform::SystemErrorText(result.error);
  return line;
}

bool OverwriteObject(WipeTools& tools, OpenFile& object, TextView shown, bool may_have_holes,
                     std::uint64_t size, std::uint64_t before, bool verify, RunTally& tally,
                     std::uint64_t& covered) {
  return ObjectPass(tools, object, shown, may_have_holes, tally).Run(size, before, verify, covered);
}

}  // namespace nulvane::engine
