// Binary trees over the window, the optimal parse's match finder. Positions whose first four
// bytes hash alike form one tree, ordered as the strings that start there sort; each position
// searched becomes its tree's root, and the walk down from the old root, which re-hangs the
// tree beneath it, meets the positions that share the longest prefixes with it: the matches
// come out longer and farther one after the other, at the cost of one walk. Three-byte matches,
// worth coding only near by, come from the newest position with the same three bytes.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "packager/lzx_window.h"

namespace lzx {

struct TFoundMatch {
  uint32_t Length;
  uint32_t Distance;
};

class TTreeMatchFinder {
 public:
  // Walks stop after `depth` nodes, and at a match of `niceLength` bytes.
  TTreeMatchFinder(const TWindow& window, unsigned windowBits, int depth, uint32_t niceLength);

  // Puts `position` in its tree and writes to `out` its matches of `limit` bytes at most, each
  // longer than the one before; returns how many. Every position goes in once, in order, and
  // needs at least four bytes before `limit` ends.
  size_t Find(uint32_t position, uint32_t limit, TFoundMatch* out) { return Walk<true>(position, limit, out); }
  // Puts `position` in its tree without looking for matches.
  void Skip(uint32_t position, uint32_t limit) { Walk<false>(position, limit, nullptr); }

  // The most matches Find reports at one position.
  size_t MostMatches() const { return size_t(Depth) + 2; }

 private:
  // Few enough heads for three-byte matches to stay in the caches.
  static constexpr unsigned Hash3Bits = 14;

  template <bool Report>
  size_t Walk(uint32_t position, uint32_t limit, TFoundMatch* out);

  uint32_t Hash4(const unsigned char* p) const {
    uint32_t key;
    std::memcpy(&key, p, 4);
    return (key * 2654435761u) >> (32 - HashBits);
  }
  static uint32_t Hash3(const unsigned char* p) {
    const uint32_t key = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    return (key * 2654435761u) >> (32 - Hash3Bits);
  }
  // Whether a node (position + 1, 0 for none) is still in reach of `position`.
  bool InReach(uint32_t node, uint32_t position) const { return node != 0 && position + 1 - node <= MaxDistance; }

  const TWindow& Window;
  const uint32_t Mask;         // window size - 1: a position's two children are at 2 * (position & Mask)
  const uint32_t MaxDistance;
  const unsigned HashBits;     // as many roots as window positions
  const int Depth;
  const uint32_t NiceLength;
  std::vector<uint32_t> Head3;     // newest position + 1 per three-byte hash, 0 for none
  std::vector<uint32_t> Roots;     // root position + 1 per four-byte hash, 0 for none
  std::vector<uint32_t> Children;  // smaller and greater child + 1 of each position in the window
};

}  // namespace lzx
