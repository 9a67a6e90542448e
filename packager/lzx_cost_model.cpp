#include "packager/lzx_cost_model.h"

#include <algorithm>

#include "packager/lzx_huffman.h"

namespace lzx {

namespace {

// A symbol the counts never saw still needs a cost: the length its code would likely get once
// it occurs a few times. Cheaper would tempt the parse into symbols that widen the tables;
// dearer would keep it from ever trying a new offset slot or length.
constexpr uint32_t UnseenMainBits = 12;
constexpr uint32_t UnseenLengthBits = 9;

// The first frame's guesses: literals of programs take about 7 bits, a match's main symbol
// about 9 and a length footer about 6 (the figures Wine's DLLs give at the start of a folder).
constexpr uint32_t DefaultLiteralBits = 7;
constexpr uint32_t DefaultMatchBits = 9;
constexpr uint32_t DefaultLengthBits = 6;

}  // namespace

void TCostModel::SetDefaults() {
  std::fill(Main, Main + Literals, DefaultLiteralBits * BitCost);
  std::fill(Main + Literals, Main + MaxMainSymbols, DefaultMatchBits * BitCost);
  std::fill(Length, Length + LengthSymbols, DefaultLengthBits * BitCost);
  SetMatchCosts();
}

void TCostModel::SetFromFreqs(const TFreqs& freqs) {
  uint8_t main[MaxMainSymbols] = {}, length[LengthSymbols] = {};
  BuildLengths(freqs.Main.data(), MainSymbols, MaxCodeBits, main);
  BuildLengths(freqs.Length.data(), LengthSymbols, MaxCodeBits, length);
  for (int i = 0; i < MaxMainSymbols; ++i) Main[i] = (main[i] ? main[i] : UnseenMainBits) * BitCost;
  for (int i = 0; i < LengthSymbols; ++i) Length[i] = (length[i] ? length[i] : UnseenLengthBits) * BitCost;
  SetMatchCosts();
}

void TCostModel::SetMatchCosts() {
  const uint32_t slots = uint32_t(MainSymbols - Literals) / LengthHeaders;
  for (uint32_t slot = 0; slot < slots; ++slot) {
    uint32_t* costs = &MatchCosts[slot * (MaxMatch + 1)];
    const uint32_t* main = Main + Literals + slot * LengthHeaders;
    const uint32_t extra = Slots.ExtraBits[slot] * BitCost;
    for (uint32_t length = MinMatch; length <= MaxMatch; ++length) {
      const uint32_t header = length - MinMatch;
      costs[length] = extra + (header < LengthHeaders - 1 ? main[header]
                                                          : main[LengthHeaders - 1] + Length[header - (LengthHeaders - 1)]);
    }
  }
}

}  // namespace lzx
