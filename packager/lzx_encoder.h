// Compresses one cabinet folder as one LZX stream in the cabinet flavour: 32 KB frames, each
// ending on a 16-bit boundary so that it fills one data block, with E8 call translation.
// Portable C++17.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "format/cabinet.h"

constexpr uint32_t LzxFrameSize = CabBlockSize;  // each frame fills one data block

// The farthest match the encoder makes. The format allows the window size minus 3, but 7-Zip
// copies a match at that distance wrongly once its window has wrapped (it moves 4-byte pieces
// with the source only 3 bytes ahead of the destination) and still reports success.
constexpr uint32_t LzxMaxDistance(unsigned windowBits) { return (uint32_t(1) << windowBits) - 4; }

// How frames are parsed into literals and matches: Lazy looks one position ahead over hash
// chains; Optimal finds the cheapest path through each frame over binary trees, smaller and
// slower.
enum class LzxParse { Lazy, Optimal };

class TLzxEncoder {
 public:
  explicit TLzxEncoder(unsigned windowBits, LzxParse parse = LzxParse::Lazy);  // CabLzxMinWindowBits to CabLzxMaxWindowBits
  ~TLzxEncoder();
  TLzxEncoder(const TLzxEncoder&) = delete;
  TLzxEncoder& operator=(const TLzxEncoder&) = delete;

  // Takes the folder's next frame: LzxFrameSize bytes, fewer only for the last one.
  void AddFrame(const unsigned char* data, uint32_t size);
  // No frame follows: everything pending is coded.
  void Finish();
  // Hands out the next coded frame, in order, with its uncompressed size; false when none is ready.
  bool TakeFrame(std::vector<unsigned char>& packed, uint32_t& size);

 private:
  struct TState;
  std::unique_ptr<TState> State;
};
