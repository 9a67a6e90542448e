#include "packager/lzx_chain_match_finder.h"

#include <algorithm>

namespace lzx {

TChainMatchFinder::TChainMatchFinder(const TWindow& window, unsigned windowBits)
    : Window(window),
      WindowSize(1u << windowBits),
      HashBits(std::max(16u, windowBits)),
      Head3(size_t(1) << Hash3Bits),
      Head(size_t(1) << HashBits),
      Chain(WindowSize) {}

void TChainMatchFinder::InsertUpTo(uint32_t position) {
  const uint32_t dataEnd = Window.End();
  const uint32_t end = std::min(position, dataEnd - std::min<uint32_t>(dataEnd, 3));
  for (; Inserted < end; ++Inserted) {
    // The head table is larger than the caches: ask early for the entries soon needed.
    if (Inserted + 8 < dataEnd - 3) __builtin_prefetch(&Head[Hash4(Inserted + 8)], 1);
    Head3[Hash3(Inserted)] = Inserted + 1;
    uint32_t& head = Head[Hash4(Inserted)];
    Chain[Inserted & (WindowSize - 1)] = head;
    head = Inserted + 1;
  }
}

}  // namespace lzx
