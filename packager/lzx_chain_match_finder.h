// Hash chains over the window, the lazy parse's match finder: chains link positions whose first
// four bytes hash alike, newest first; three-byte matches, worth coding only near by, come from
// the newest position with the same three bytes.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "packager/lzx_window.h"

namespace lzx {

class TChainMatchFinder {
 public:
  TChainMatchFinder(const TWindow& window, unsigned windowBits);

  // Puts every position below `position` that has four bytes after it into the chains.
  void InsertUpTo(uint32_t position);
  // The newest position before `position` with the same three bytes, plus 1; 0 for none.
  uint32_t Newest3(uint32_t position) const { return Head3[Hash3(position)]; }
  // The newest position before `position` with the same four-byte hash, plus 1; 0 for none.
  uint32_t Newest4(uint32_t position) const { return Head[Hash4(position)]; }
  // The position before `from` on its chain, plus 1; 0 for none.
  uint32_t Older(uint32_t from) const { return Chain[from & (WindowSize - 1)]; }

 private:
  // Few enough heads for three-byte matches to stay in the caches.
  static constexpr unsigned Hash3Bits = 14;

  uint32_t Hash4(uint32_t position) const {
    uint32_t key;
    std::memcpy(&key, Window.At(position), 4);
    return (key * 2654435761u) >> (32 - HashBits);
  }
  uint32_t Hash3(uint32_t position) const {
    const unsigned char* p = Window.At(position);
    const uint32_t key = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    return (key * 2654435761u) >> (32 - Hash3Bits);
  }

  const TWindow& Window;
  const uint32_t WindowSize;
  const unsigned HashBits;       // as many heads as window positions: every false link costs a cache miss
  std::vector<uint32_t> Head3;   // newest position + 1 per three-byte hash, 0 for none
  std::vector<uint32_t> Head;    // newest position + 1 per four-byte hash, 0 for none
  std::vector<uint32_t> Chain;   // previous position + 1 with the same hash, by position in the window
  uint32_t Inserted = 0;         // positions below this are in the chains
};

}  // namespace lzx
