// What the optimal parse believes each symbol costs, in 1/16 bits: the lengths of the Huffman
// codes that counts of symbols would get, as the block writer builds them.
#pragma once
#include <cstdint>
#include <vector>

#include "packager/lzx_format.h"

namespace lzx {

// Costs are in 1/16 bits: code lengths are whole bits, and the unit leaves room for estimates
// that are not (an average over codes to come, say) without a change to the path.
constexpr uint32_t BitCost = 16;

class TCostModel {
 public:
  explicit TCostModel(int mainSymbols) : MainSymbols(mainSymbols), MatchCosts(size_t(mainSymbols - Literals) / LengthHeaders * (MaxMatch + 1)) {}

  // Guesses for a folder's first frame, where no counts are known yet.
  void SetDefaults();
  // The costs under the codes these counts give.
  void SetFromFreqs(const TFreqs& freqs);

  uint32_t Literal(unsigned char byte) const { return Main[byte]; }
  // A match of `length` bytes in offset slot `slot` (0 to 2 for the repeated offsets): its main
  // symbol, its length footer and its offset bits, as a verbatim block writes them.
  uint32_t Match(uint32_t slot, uint32_t length) const { return MatchCosts[slot * (MaxMatch + 1) + length]; }

 private:
  void SetMatchCosts();

  const int MainSymbols;
  uint32_t Main[MaxMainSymbols] = {};
  uint32_t Length[LengthSymbols] = {};
  std::vector<uint32_t> MatchCosts;  // by slot and length, worked out once per model
};

}  // namespace lzx
