// Gathers parsed frames into LZX blocks and codes them: a frame joins the running block while one
// set of Huffman trees codes both more cheaply than two would; a block is written verbatim,
// aligned-offset or, where that is smaller, uncompressed; every frame ends on a 16-bit boundary.
#pragma once
#include <cstdint>
#include <deque>

#include "packager/lzx_bit_writer.h"
#include "packager/lzx_format.h"

namespace lzx {

// The code lengths of one block and its type.
struct TTrees {
  uint8_t Main[MaxMainSymbols] = {};
  uint8_t Length[LengthSymbols] = {};
  uint8_t Aligned[AlignedSymbols] = {};
  int Type = VerbatimBlock;
};

class TBlockWriter {
 public:
  explicit TBlockWriter(unsigned windowBits);

  // Takes the next parsed frame; it goes to Ready() once its block is written.
  void Add(TFrame&& frame);
  // Writes the running block.
  void Flush();
  std::deque<TFrame>& Ready() { return ReadyFrames; }

  // The symbol counts of the running block, empty when none is running.
  const TFreqs& RunningFreqs() const { return PendingFreqs; }

 private:
  TTrees MakeTrees(const TFreqs& freqs) const;
  uint64_t ElementBits(const TFreqs& freqs, const TTrees& trees) const;
  uint64_t CompressedBits(const TFreqs& freqs, TTrees& trees) const;
  uint64_t CostOf(const TFreqs& freqs, uint64_t uncompressedBits) const;
  void StartStream(TBitWriter& out);
  void WriteUncompressed(TFrame& frame);
  void WriteCompressed(size_t first, size_t last, const TTrees& trees);
  void WriteFrames(size_t first, size_t last);

  const int MainSymbols;
  // Frames parsed but not yet written, with their running block; frames written, waiting.
  std::deque<TFrame> Pending;
  TFreqs PendingFreqs;
  uint64_t PendingCost = 0;
  std::deque<TFrame> ReadyFrames;
  bool StreamStarted = false;
  uint8_t PreviousMain[MaxMainSymbols] = {};
  uint8_t PreviousLength[LengthSymbols] = {};
};

}  // namespace lzx
