// The near-optimal parse: the matches of every position of the frame are found first, over
// binary trees; then a minimum-cost path runs forward through the frame, where each position's
// cheapest way in (a literal, a match at a repeated offset, or a match the trees found) is
// priced with the costs the codes of the running block give. Each position keeps the repeated
// offsets of its cheapest way in, so that repeated-offset matches are priced as the path that
// reaches it would code them. The frame is parsed a second time with the codes the first parse
// would get, since a parse changes the costs it was made with.
#include <algorithm>
#include <array>
#include <limits>

#include "packager/lzx_cost_model.h"
#include "packager/lzx_parse.h"
#include "packager/lzx_tree_match_finder.h"

namespace lzx {

namespace {

// Tree nodes visited at each position. More find more matches, each a little longer or a
// little nearer, in more time: on Wine's DLLs 16 gives all but 0.1% of what 24 gives.
constexpr int SearchDepth = 16;
// A match this long ends the tree's walk, the positions it covers go into the trees without a
// search, and the path takes it whole and goes on from its end: on long repeats (runs, copies
// of whole tables) nothing better is likely inside, and pricing every length of every match
// there would cost time on the order of the square of the repeat. Shorter nice lengths save
// little time on programs and lose much (64 costs 1% on Wine's DLLs), so only the longest
// match LZX codes counts.
constexpr uint32_t NiceLength = MaxMatch;
// Parses of each frame: the first with the codes of the running block, the second with the
// codes the running block and the first parse together would get. A frame's symbols often
// differ from the block's before it (code, then tables, then resources), so the second parse
// gains about 0.7% on Wine's DLLs; a third gains less than 0.1%. The parses before the last
// only count symbols, and price each match the trees found at its full length alone, not at
// every shorter one too: in less time, their counts serve as well.
constexpr int Passes = 2;

constexpr uint32_t Infinite = std::numeric_limits<uint32_t>::max();

class TOptimalParse : public TParse {
 public:
  TOptimalParse(const TWindow& window, unsigned windowBits)
      : Window(window),
        Tree(window, windowBits, SearchDepth, NiceLength),
        Model(Literals + PositionSlots(windowBits) * LengthHeaders),
        Nodes(LzxFrameSize + 1),
        Repeats(LzxFrameSize + 1) {}

  void Parse(uint32_t start, uint32_t end, uint32_t repeats[3], const TFreqs& running, TFrame& frame) override {
    FindMatches(start, end);
    const bool known = std::any_of(running.Main.begin(), running.Main.end(), [](uint32_t n) { return n != 0; });
    if (known)
      Model.SetFromFreqs(running);
    else
      Model.SetDefaults();
    for (int pass = 1; pass < Passes; ++pass) {
      TFrame trial;
      uint32_t trialRepeats[3] = {repeats[0], repeats[1], repeats[2]};
      FindPath(start, end, trialRepeats, false);
      Emit(start, end, trialRepeats, trial);
      TFreqs freqs = running;
      freqs += trial.Freqs;
      Model.SetFromFreqs(freqs);
    }
    FindPath(start, end, repeats, true);
    frame.Items.reserve(end - start);
    Emit(start, end, repeats, frame);
  }

 private:
  // A position of the frame on the path: the cheapest way found into it so far, packed into
  // 8 bytes so that the nodes a match reaches stay in the caches.
  struct TNode {
    uint32_t Cost;
    uint32_t Way;  // the length of the literal (1) or match that ends here, and its offset << 9
  };
  static constexpr uint32_t LengthMask = 0x1FF;  // MaxMatch fits in 9 bits
  // A way's offset: its repeated offset (0 to 2) or its distance + 2.
  static uint32_t Way(uint32_t length, uint32_t offset) { return length | offset << 9; }

  // Every position's matches, from the trees, into Matches, with MatchesAt[i] the first of
  // position start + i.
  void FindMatches(uint32_t start, uint32_t end) {
    const uint32_t size = end - start;
    Matches.resize(size_t(size) * Tree.MostMatches());
    MatchesAt.assign(size + 1, 0);
    size_t count = 0;
    for (uint32_t i = 0; i < size; ++i) {
      MatchesAt[i] = static_cast<uint32_t>(count);
      const uint32_t limit = std::min(MaxMatch, size - i);
      if (limit < 4) continue;
      const size_t found = Tree.Find(start + i, limit, &Matches[count]);
      count += found;
      if (found == 0 || Matches[count - 1].Length < NiceLength) continue;
      const uint32_t skipEnd = i + Matches[count - 1].Length;
      while (++i < skipEnd) {
        MatchesAt[i] = static_cast<uint32_t>(count);
        if (size - i >= 4) Tree.Skip(start + i, std::min(MaxMatch, size - i));
      }
      --i;
    }
    MatchesAt[size] = static_cast<uint32_t>(count);
  }

  void Reach(uint32_t to, uint32_t cost, uint32_t way) {
    TNode& node = Nodes[to];
    if (cost < node.Cost) node = {cost, way};
  }

  // The cheapest path through [start, end) under Model, from the repeated offsets given; with
  // everyLength, the found matches at every length they allow, else at their full lengths.
  void FindPath(uint32_t start, uint32_t end, const uint32_t repeats[3], bool everyLength) {
    const uint32_t size = end - start;
    for (uint32_t i = 0; i <= size; ++i) Nodes[i].Cost = Infinite;
    Nodes[0] = {0, 1};
    std::copy(repeats, repeats + 3, Repeats[0].data());
    for (uint32_t i = 0, next = 0; i < size; i = next) {
      if (i > 0) SetRepeats(i);
      next = i + 1;
      const uint32_t cost = Nodes[i].Cost, arrival = Nodes[i].Way & LengthMask;
      const uint32_t* queue = Repeats[i].data();
      const uint32_t position = start + i;
      Reach(i + 1, cost + Model.Literal(*Window.At(position)), 1);
      const uint32_t limit = std::min(MaxMatch, size - i);
      if (limit < MinMatch) continue;
      // Lengths up to the longest repeated-offset match are left to it: with no offset bits it
      // is nearly always the cheaper.
      uint32_t covered = MinMatch;
      for (uint32_t r = 0; r < 3; ++r) {
        const uint32_t distance = queue[r];
        if (distance > position || (r > 0 && distance == queue[0]) || (r > 1 && distance == queue[1])) continue;
        const uint32_t length = Window.MatchLength(position, position - distance, limit);
        if (r == 0 && arrival > 1 && arrival + length <= MaxMatch) {
          // The rest of the match this node was reached by: the match's longer lengths reached
          // the same nodes in one symbol.
          covered = std::max(covered, length);
          continue;
        }
        if (length >= NiceLength) {  // taken: the path goes on from its end
          Reach(i + length, cost + Model.Match(r, length), Way(length, r));
          next = std::max(next, i + length);
        } else {
          for (uint32_t l = MinMatch; l <= length; ++l) Reach(i + l, cost + Model.Match(r, l), Way(l, r));
        }
        covered = std::max(covered, length);
      }
      for (uint32_t m = MatchesAt[i]; m < MatchesAt[i + 1]; ++m) {
        const TFoundMatch& match = Matches[m];
        if (match.Length <= covered) continue;
        const uint32_t distance = match.Distance;
        if (distance == queue[0] || distance == queue[1] || distance == queue[2]) continue;
        const uint32_t slot = SlotOf(distance + 2);
        if (match.Length >= NiceLength) {
          Reach(i + match.Length, cost + Model.Match(slot, match.Length), Way(match.Length, distance + 2));
          next = std::max(next, i + match.Length);
          break;
        }
        for (uint32_t l = everyLength ? covered + 1 : match.Length; l <= match.Length; ++l)
          Reach(i + l, cost + Model.Match(slot, l), Way(l, distance + 2));
        covered = match.Length;
      }
    }
    SetRepeats(size);
  }

  // A node's repeated offsets, from the node its cheapest way in comes from.
  void SetRepeats(uint32_t i) {
    const uint32_t way = Nodes[i].Way, length = way & LengthMask, offset = way >> 9;
    uint32_t* queue = Repeats[i].data();
    std::copy(Repeats[i - length].begin(), Repeats[i - length].end(), queue);
    if (length == 1) return;
    if (offset >= 3) {
      queue[2] = queue[1];
      queue[1] = queue[0];
      queue[0] = offset - 2;
    } else {
      std::swap(queue[0], queue[offset]);
    }
  }

  // Codes the path FindPath left into the frame, from its end backwards, then forwards.
  void Emit(uint32_t start, uint32_t end, uint32_t repeats[3], TFrame& frame) {
    Path.clear();
    for (uint32_t i = end - start; i > 0; i -= Nodes[i].Way & LengthMask) Path.push_back(i);
    uint32_t at = 0;
    for (auto step = Path.rbegin(); step != Path.rend(); ++step) {
      const uint32_t way = Nodes[*step].Way, length = way & LengthMask, offset = way >> 9;
      if (length == 1)
        AddLiteral(frame, *Window.At(start + at));
      else
        AddMatch(frame, length, offset >= 3 ? offset - 2 : repeats[offset], repeats);
      at = *step;
    }
  }

  const TWindow& Window;
  TTreeMatchFinder Tree;
  TCostModel Model;
  std::vector<TFoundMatch> Matches;
  std::vector<uint32_t> MatchesAt;
  std::vector<TNode> Nodes;
  std::vector<std::array<uint32_t, 3>> Repeats;  // each node's repeated offsets after its way in
  std::vector<uint32_t> Path;
};

}  // namespace

std::unique_ptr<TParse> MakeOptimalParse(const TWindow& window, unsigned windowBits) {
  return std::make_unique<TOptimalParse>(window, windowBits);
}

}  // namespace lzx
