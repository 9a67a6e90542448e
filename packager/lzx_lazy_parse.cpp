// The lazy parse: at each position the match that saves the most bits by a rough estimate,
// unless the next position has a better one, over hash chains.
#include <algorithm>

#include "packager/lzx_chain_match_finder.h"
#include "packager/lzx_parse.h"

namespace lzx {

namespace {

// Chain links followed at each position: more find longer matches in more time.
constexpr int ChainDepth = 48;
// Once a match this long is found, only a quarter of the links are followed: a longer match
// would save little against the time.
constexpr uint32_t GoodLength = 24;
// A match shorter than this waits to see if the next position has a better one; a longer one is
// taken at once.
constexpr uint32_t LazyLength = 48;
// A match this long ends the search.
constexpr uint32_t NiceLength = 128;
// After this many positions in a row without a match (noise, packed data), only every fourth
// position is searched; every one still goes into the chains.
constexpr uint32_t SparseAfterMisses = 64;

class TLazyParse : public TParse {
 public:
  TLazyParse(const TWindow& window, unsigned windowBits)
      : Window(window), Chains(window, windowBits), MaxDistance(LzxMaxDistance(windowBits)) {}

  void Parse(uint32_t start, uint32_t end, uint32_t repeats[3], const TFreqs&, TFrame& frame) override {
    frame.Items.reserve(end - start);
    for (uint32_t position = start; position < end;) {
      if (Misses >= SparseAfterMisses && (position & 3) != 0) {
        AddLiteral(frame, *Window.At(position));
        ++position;
        continue;
      }
      TMatch match = BestMatch(position, end, repeats);
      if (match.Gain <= 0) {
        AddLiteral(frame, *Window.At(position));
        ++position;
        ++Misses;
        continue;
      }
      Misses = 0;
      while (position + 1 < end && match.Length < LazyLength) {
        TMatch next = BestMatch(position + 1, end, repeats);
        if (next.Gain <= match.Gain) break;
        AddLiteral(frame, *Window.At(position));
        ++position;
        match = next;
      }
      AddMatch(frame, match.Length, match.Distance, repeats);
      position += match.Length;
    }
  }

 private:
  struct TMatch {
    uint32_t Length = 0;
    uint32_t Distance = 0;
    int Gain = 0;
  };

  // Bits a match saves over literals, roughly: a literal ~6 bits, a match symbol ~8, a repeated
  // offset no offset bits. (These weights gave the smallest output on programs and on text.)
  static int GainOf(uint32_t length, uint32_t distance, const uint32_t repeats[3]) {
    int cost = 8 + (length >= 9 ? 5 : 0);
    if (distance != repeats[0] && distance != repeats[1] && distance != repeats[2])
      cost += 1 + Slots.ExtraBits[SlotOf(distance + 2)];
    else
      cost -= 1;
    return int(length) * 6 - cost;
  }

  TMatch BestMatch(uint32_t position, uint32_t frameEnd, const uint32_t repeats[3]) {
    TMatch best;
    const uint32_t limit = std::min(MaxMatch, frameEnd - position);
    if (limit < MinMatch) return best;
    Chains.InsertUpTo(position);
    for (int r = 0; r < 3; ++r) {
      const uint32_t distance = repeats[r];
      if (distance > position) continue;
      const uint32_t length = Window.MatchLength(position, position - distance, limit);
      if (length < MinMatch) continue;
      const int gain = GainOf(length, distance, repeats);
      if (gain > best.Gain) best = {length, distance, gain};
    }
    if (limit < 3 || Window.End() - position < 4) return best;
    const unsigned char* here = Window.At(position);
    if (const uint32_t near = Chains.Newest3(position); near && position - (near - 1) <= MaxDistance) {
      const uint32_t length = Window.MatchLength(position, near - 1, limit);
      const int gain = length >= 3 ? GainOf(length, position - (near - 1), repeats) : 0;
      if (gain > best.Gain) best = {length, position - (near - 1), gain};
    }
    uint32_t longest = std::max<uint32_t>(best.Length, 3);
    int depth = best.Length >= GoodLength ? ChainDepth / 4 : ChainDepth;
    for (uint32_t candidate = Chains.Newest4(position); candidate && depth-- > 0 && longest < limit;) {
      const uint32_t from = candidate - 1;
      const uint32_t distance = position - from;
      if (distance > MaxDistance) break;
      const unsigned char* there = Window.At(from);
      if (there[longest] == here[longest] && there[0] == here[0]) {
        const uint32_t length = Window.MatchLength(position, from, limit);
        if (length > longest) {
          const int gain = GainOf(length, distance, repeats);
          if (gain > best.Gain) {
            best = {length, distance, gain};
            longest = length;
            if (length >= NiceLength) break;
          }
        }
      }
      candidate = Chains.Older(from);
    }
    return best;
  }

  const TWindow& Window;
  TChainMatchFinder Chains;
  const uint32_t MaxDistance;
  uint32_t Misses = 0;  // positions searched in vain since the last match
};

}  // namespace

std::unique_ptr<TParse> MakeLazyParse(const TWindow& window, unsigned windowBits) {
  return std::make_unique<TLazyParse>(window, windowBits);
}

}  // namespace lzx
