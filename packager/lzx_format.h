// The LZX format's numbers and the coded elements the parses make: symbols, offset slots, the
// repeated offsets, and each frame's elements with their symbol counts.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "packager/lzx_encoder.h"

namespace lzx {

constexpr uint32_t MinMatch = 2;
constexpr uint32_t MaxMatch = 257;
constexpr int Literals = 256;
constexpr int LengthHeaders = 8;  // main symbol per offset slot: lengths 2 to 8, and 9 or more
constexpr int MaxPositionSlots = 50;
constexpr int MaxMainSymbols = Literals + MaxPositionSlots * LengthHeaders;
constexpr int LengthSymbols = 249;  // the footer of lengths 9 to 257
constexpr int AlignedSymbols = 8;
constexpr int PretreeSymbols = 20;
constexpr int MaxCodeBits = 16;
constexpr int MaxPretreeBits = 15;  // pre-tree lengths are stored in 4 bits
constexpr int MaxAlignedBits = 7;   // aligned-offset lengths are stored in 3 bits
constexpr int VerbatimBlock = 1, AlignedBlock = 2, UncompressedBlock = 3;
constexpr uint32_t TranslationSize = 12000000;  // the E8 file size makecab announces
constexpr uint32_t TranslatedFrames = 32768;    // decoders translate only the first 1 GB

// Offset slot n covers formatted offsets (distance + 2) from Base[n], with ExtraBits[n] bits
// after the main symbol: two slots per power of two, then steps of 2^17.
struct TSlotTables {
  uint32_t Base[MaxPositionSlots + 1];
  uint8_t ExtraBits[MaxPositionSlots + 1];
  TSlotTables();
};
extern const TSlotTables Slots;

// Offset slots, and so main symbols, of a window of 2^windowBits bytes.
int PositionSlots(unsigned windowBits);

// The slot of a formatted offset (distance + 2); slots 0 to 2 are the repeated offsets.
inline uint32_t SlotOf(uint32_t formatted) {
  if (formatted < 4) return formatted;
  if (formatted >= (1u << 18)) return 36 + ((formatted - (1u << 18)) >> 17);
  const uint32_t high = 31 - static_cast<uint32_t>(__builtin_clz(formatted));
  return 2 * high + ((formatted >> (high - 1)) & 1);
}

// One coded element: a literal (Main < 256) or a match with its length footer and offset bits.
struct TItem {
  uint16_t Main;
  uint8_t LengthFooter;
  uint8_t ExtraBits;
  uint32_t Extra;
};

struct TFreqs {
  std::array<uint32_t, MaxMainSymbols> Main{};
  std::array<uint32_t, LengthSymbols> Length{};
  std::array<uint32_t, AlignedSymbols> Aligned{};  // low three offset bits of matches with 3+ extra bits
  uint64_t ExtraBits = 0;                          // all offset bits, as a verbatim block writes them

  TFreqs& operator+=(const TFreqs& other);
};

// One 32 KB frame on its way through the encoder: parsed, then coded into Packed.
struct TFrame {
  std::vector<unsigned char> Data;  // after E8 translation: what an uncompressed block holds
  std::vector<TItem> Items;
  TFreqs Freqs;
  uint32_t Repeats[3];              // the repeated offsets after this frame
  std::vector<unsigned char> Packed;
};

void AddLiteral(TFrame& frame, unsigned char byte);
// A match, coded with a repeated offset where its distance is one of `repeats`, which it
// updates as a decoder does.
void AddMatch(TFrame& frame, uint32_t length, uint32_t distance, uint32_t repeats[3]);

}  // namespace lzx
