#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "joiner/CogLayout.h"
#include "joiner/TileSpool.h"

namespace kestrane::joiner_detail {

// Called every few thousand tiles with the tiles written so far and in
// all; returns false to stop.
using AssemblyTick = std::function<bool(int64_t done, int64_t total)>;

// The bytes the blocks of the spool's tiles take in the file of `shape`:
// leaders and trailers, and with masks a mask block per tile.
uint64_t CogDataBytes(const TileSpool::Totals &totals, bool masks);

// Writes the picture file into `fd` (empty, open for writing): the header,
// every tile array, and the blocks of the levels from the smallest level
// to the picture, each tile's image followed by its mask when the file has
// masks. The spool's disk space is given back as it is copied. False when
// `tick` stops it. Throws KError(CannotWrite) naming `target` when writing
// fails.
bool AssembleCog(const CogHeader &header, const CogShape &shape,
                 TileSpool &spool, int fd, const std::string &target,
                 const AssemblyTick &tick);

} // namespace kestrane::joiner_detail
