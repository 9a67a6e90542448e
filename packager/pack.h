// Packing: the stub, dressed with the vendor's version texts and icon, with the cabinet, the
// option list and the digests as its resources.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ostream>

#include "packager/switches.h"

// What a packing run did, for the summary line.
struct PackStats {
  size_t Files = 0;
  uint64_t BytesIn = 0, BytesOut = 0;
  int Excluded = 0;
};

bool Pack(const Settings& s, PackStats& stats, std::ostream& err, Failure& failure);
