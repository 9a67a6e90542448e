#include "packager/lzx_tree_match_finder.h"

#include <algorithm>

#include "packager/lzx_encoder.h"

namespace lzx {

TTreeMatchFinder::TTreeMatchFinder(const TWindow& window, unsigned windowBits, int depth, uint32_t niceLength)
    : Window(window),
      Mask((1u << windowBits) - 1),
      MaxDistance(LzxMaxDistance(windowBits)),
      HashBits(std::max(16u, windowBits)),
      Depth(depth),
      NiceLength(niceLength),
      Head3(size_t(1) << Hash3Bits),
      Roots(size_t(1) << HashBits),
      Children(2 * (size_t(Mask) + 1)) {}

template <bool Report>
size_t TTreeMatchFinder::Walk(uint32_t position, uint32_t limit, TFoundMatch* out) {
  const unsigned char* here = Window.At(position);
  size_t found = 0;
  uint32_t best = 2;  // matches shorter than this are not reported
  uint32_t& near = Head3[Hash3(here)];
  if (Report && InReach(near, position) && std::memcmp(Window.At(near - 1), here, 3) == 0) {
    out[found++] = {3, position + 1 - near};
    best = 3;
  }
  near = position + 1;

  // The root table is larger than the caches: ask early for the next position's root.
  if (limit > 4) __builtin_prefetch(&Roots[Hash4(here + 1)], 1);
  const uint32_t nice = std::min(NiceLength, limit);
  uint32_t& root = Roots[Hash4(here)];
  uint32_t node = root;
  root = position + 1;
  // The open links: where the next node smaller, and the next greater, than `here` hangs.
  uint32_t* smaller = &Children[2 * (position & Mask)];
  uint32_t* greater = smaller + 1;
  // Bytes known to agree with every node below the last smaller and the last greater node.
  uint32_t smallerLength = 0, greaterLength = 0, length = 0;
  for (int depth = Depth; InReach(node, position) && depth > 0; --depth) {
    const uint32_t from = node - 1;
    const unsigned char* there = Window.At(from);
    uint32_t* children = &Children[2 * (from & Mask)];
    if (there[length] == here[length]) {
      // Measured from the start: a node that took another's place at a frame's end, where
      // `nice` is short, may not sort after its new children, so what the walk believes agrees
      // is not always so.
      length = Window.MatchLength(position, from, nice);
      if (Report && length > best) {
        best = length;
        out[found++] = {length, position - from};
      }
      if (length >= nice) {  // `here` takes the node's place
        *smaller = children[0];
        *greater = children[1];
        return found;
      }
    }
    if (there[length] < here[length]) {
      *smaller = node;
      smaller = &children[1];
      node = *smaller;
      smallerLength = length;
    } else {
      *greater = node;
      greater = &children[0];
      node = *greater;
      greaterLength = length;
    }
    length = std::min(smallerLength, greaterLength);
  }
  *smaller = *greater = 0;
  return found;
}

template size_t TTreeMatchFinder::Walk<true>(uint32_t, uint32_t, TFoundMatch*);
template size_t TTreeMatchFinder::Walk<false>(uint32_t, uint32_t, TFoundMatch*);

}  // namespace lzx
