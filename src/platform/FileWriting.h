#pragma once

#include "platform/Files.h"

namespace ov::fs {

// Asks the file system not to compress what is written to the file from now on: no
// copy-on-write while the file is empty (btrfs then never compresses it), otherwise the
// no-compression attribute. False where the file system keeps neither attribute, which is
// where it does not compress either.
bool refuseCompression(const File& file);

} // namespace ov::fs
