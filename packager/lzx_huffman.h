// Huffman codes for LZX: code lengths under a limit, canonical codes, and a code's lengths as
// the pre-tree codes them in a block's header.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "packager/lzx_bit_writer.h"
#include "packager/lzx_format.h"

namespace lzx {

// Huffman code lengths no longer than `limit`. A lone used symbol gets a partner so that the
// code is complete, which every decoder requires of a code that is not empty.
void BuildLengths(const uint32_t* freq, int count, int limit, uint8_t* lengths);

// Canonical codes: shorter codes first, equal lengths in symbol order, read most significant bit first.
void MakeCodes(const uint8_t* lengths, int count, uint16_t* codes);

// A length table as the pre-tree codes it, against the table the previous block left.
class TLengthTokens {
 public:
  TLengthTokens(const uint8_t* previous, const uint8_t* lengths, int count);
  uint64_t Bits() const;  // the pre-tree's lengths and the coded table
  void Write(TBitWriter& out) const;

 private:
  void Add(int symbol, int extra, int bits);
  std::vector<std::array<uint8_t, 3>> Tokens;  // symbol, extra value, extra bits
  uint32_t Freq[PretreeSymbols] = {};
  uint8_t Lengths[PretreeSymbols] = {};
};

}  // namespace lzx
