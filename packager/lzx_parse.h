// The parses: each turns a frame into literals and matches. Matches never cross the frame's
// end, reach at most LzxMaxDistance back and are 2 to 257 bytes long.
#pragma once
#include <cstdint>
#include <memory>

#include "packager/lzx_format.h"
#include "packager/lzx_window.h"

namespace lzx {

class TParse {
 public:
  virtual ~TParse() = default;
  // Parses the window's bytes [start, end) into frame.Items and frame.Freqs, starting from the
  // repeated offsets given, which it leaves as a decoder would have them after the frame.
  // `running` counts the symbols of the block the frame will likely join.
  virtual void Parse(uint32_t start, uint32_t end, uint32_t repeats[3], const TFreqs& running, TFrame& frame) = 0;
};

// Greedy with one step of lazy evaluation, over hash chains (lzx_lazy_parse.cpp).
std::unique_ptr<TParse> MakeLazyParse(const TWindow& window, unsigned windowBits);
// A minimum-cost path over binary trees' matches (lzx_optimal_parse.cpp).
std::unique_ptr<TParse> MakeOptimalParse(const TWindow& window, unsigned windowBits);

}  // namespace lzx
