// LZX as cabinet readers (cabinet.dll, libmspack) decode it. Each frame is parsed as it comes
// (lzx_parse.h: over the whole window, with the three repeated offsets), then frames are
// gathered into blocks while one set of Huffman trees codes them more cheaply than separate
// sets would (lzx_block_writer.h). A block is written verbatim, aligned-offset or, where that is
// smaller, uncompressed. Matches never cross a frame, and blocks start on frames, so every frame
// ends cleanly.
//
// What it relies on in decoders, and what it keeps clear of so that every decoder reads the same
// bytes: matches of 2 to 257 bytes that overlap what they copy (every decoder copies byte by
// byte or in pieces that stay behind the source); no match at the format's largest distance
// (LzxMaxDistance: 7-Zip misreads it); E8 translation over all but a frame's last 10 bytes, and
// only in the first 32768 frames, as cabinet.dll and libmspack translate; the three repeated
// offsets start at 1 in each folder and carry over between blocks.
//
// The pieces, one file each: lzx_window (the bytes searched, E8 translation), the match finders
// (lzx_chain_match_finder, lzx_tree_match_finder), the parses (lzx_lazy_parse,
// lzx_optimal_parse with lzx_cost_model), lzx_block_writer (blocks, their cost and their bits),
// lzx_huffman (codes and the pre-tree), lzx_bit_writer, lzx_format (symbols, offset slots,
// repeated offsets).
#include "packager/lzx_encoder.h"

#include <algorithm>

#include "packager/lzx_block_writer.h"
#include "packager/lzx_parse.h"
#include "packager/lzx_window.h"

struct TLzxEncoder::TState {
  lzx::TWindow Window;
  std::unique_ptr<lzx::TParse> Parse;
  lzx::TBlockWriter Blocks;
  uint32_t Repeats[3] = {1, 1, 1};

  TState(unsigned windowBits, LzxParse parse)
      : Window(windowBits),
        Parse(parse == LzxParse::Optimal ? lzx::MakeOptimalParse(Window, windowBits) : lzx::MakeLazyParse(Window, windowBits)),
        Blocks(windowBits) {}
};

TLzxEncoder::TLzxEncoder(unsigned windowBits, LzxParse parse)
    : State(std::make_unique<TState>(std::clamp(windowBits, CabLzxMinWindowBits, CabLzxMaxWindowBits), parse)) {}
TLzxEncoder::~TLzxEncoder() = default;

void TLzxEncoder::AddFrame(const unsigned char* data, uint32_t size) {
  const uint32_t start = State->Window.AddFrame(data, size);
  lzx::TFrame frame;
  frame.Data.assign(State->Window.At(start), State->Window.At(start) + size);
  State->Parse->Parse(start, start + size, State->Repeats, State->Blocks.RunningFreqs(), frame);
  std::copy(State->Repeats, State->Repeats + 3, frame.Repeats);
  State->Blocks.Add(std::move(frame));
}

void TLzxEncoder::Finish() { State->Blocks.Flush(); }

bool TLzxEncoder::TakeFrame(std::vector<unsigned char>& packed, uint32_t& size) {
  std::deque<lzx::TFrame>& ready = State->Blocks.Ready();
  if (ready.empty()) return false;
  lzx::TFrame& frame = ready.front();
  packed = std::move(frame.Packed);
  size = static_cast<uint32_t>(frame.Data.size());
  ready.pop_front();
  return true;
}
