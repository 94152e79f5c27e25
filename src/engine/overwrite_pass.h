// One overwrite pass over one open object (the data of a file, or one of its named streams),
// and the lines every step of a wipe reports failures with.
#pragma once

#include <cstdint>

#include "engine/wipe.h"
#include "platform/file_system.h"
#include "platform/text.h"

namespace nulvane::engine {

// Adds an error line and counts it.
void AddError(WipeTools& tools, RunTally& tally, TextView line);

// "<path>: <system error text>", or the program's own text for the errors it names itself.
Text FailureLine(TextView path, platform::IoResult result);

// Overwrites the open object `object` with zeros from 0 to `size` (its size when it was
// opened; it stands at offset 0), forces that to the device, then overwrites what it grew by
// meanwhile, and on `verify` reads it back past the cache. Where `may_have_holes`, only its
// data ranges are written (read from the object; the whole when they cannot be read) and the
// holes count as done. `before` is the size the previous pass left (0 on the first). The size
// is read after every write request and after the pass: an object another program made
// shorter (below `before` or below `size`) is reported, since the blocks it gave up were never
// overwritten. `shown` names the object in lines. False, with the failure reported, when the
// object must be kept; on success `covered` is the size the pass overwrote.
bool OverwriteObject(WipeTools& tools, platform::OpenFile& object, TextView shown,
                     bool may_have_holes, std::uint64_t size, std::uint64_t before, bool verify,
                     RunTally& tally, std::uint64_t& covered);

}  // namespace nulvane::engine
