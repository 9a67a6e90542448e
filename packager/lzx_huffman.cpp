#include "packager/lzx_huffman.h"

#include <algorithm>
#include <queue>
#include <utility>

namespace lzx {

void BuildLengths(const uint32_t* freq, int count, int limit, uint8_t* lengths) {
  std::vector<uint32_t> weights(freq, freq + count);
  std::fill(lengths, lengths + count, 0);
  std::vector<int> used;
  for (int i = 0; i < count; ++i)
    if (weights[i]) used.push_back(i);
  if (used.empty()) return;
  if (used.size() == 1) {
    lengths[used[0]] = 1;
    lengths[used[0] == 0 ? 1 : 0] = 1;
    return;
  }
  for (;;) {
    // Leaves are 0..n-1, inner nodes n.. in the order they are made; the root is made last.
    const int n = static_cast<int>(used.size());
    std::vector<int> parent(2 * n - 1, -1);
    using TNode = std::pair<uint64_t, int>;
    std::priority_queue<TNode, std::vector<TNode>, std::greater<TNode>> queue;
    for (int i = 0; i < n; ++i) queue.push({weights[used[i]], i});
    for (int next = n; queue.size() > 1; ++next) {
      const TNode a = queue.top();
      queue.pop();
      const TNode b = queue.top();
      queue.pop();
      parent[a.second] = parent[b.second] = next;
      queue.push({a.first + b.first, next});
    }
    std::vector<int> depth(2 * n - 1, 0);
    int deepest = 0;
    for (int node = 2 * n - 3; node >= 0; --node) {
      depth[node] = depth[parent[node]] + 1;
      if (node < n) deepest = std::max(deepest, depth[node]);
    }
    if (deepest <= limit) {
      for (int i = 0; i < n; ++i) lengths[used[i]] = static_cast<uint8_t>(depth[i]);
      return;
    }
    for (int symbol : used) weights[symbol] = (weights[symbol] >> 1) | 1;
  }
}

void MakeCodes(const uint8_t* lengths, int count, uint16_t* codes) {
  uint32_t perLength[MaxCodeBits + 1] = {};
  for (int i = 0; i < count; ++i) perLength[lengths[i]]++;
  perLength[0] = 0;
  uint32_t next[MaxCodeBits + 2] = {};
  for (int bits = 1; bits <= MaxCodeBits; ++bits) next[bits + 1] = (next[bits] + perLength[bits]) << 1;
  for (int i = 0; i < count; ++i)
    if (lengths[i]) codes[i] = static_cast<uint16_t>(next[lengths[i]]++);
}

void TLengthTokens::Add(int symbol, int extra, int bits) {
  Tokens.push_back({static_cast<uint8_t>(symbol), static_cast<uint8_t>(extra), static_cast<uint8_t>(bits)});
  Freq[symbol]++;
}

TLengthTokens::TLengthTokens(const uint8_t* previous, const uint8_t* lengths, int count) {
  auto delta = [&](int i) { return (previous[i] - lengths[i] + 17) % 17; };
  for (int i = 0; i < count;) {
    int run = 1;
    if (lengths[i] == 0) {
      while (i + run < count && lengths[i + run] == 0) ++run;
      if (run >= 20) {
        run = std::min(run, 51);
        Add(18, run - 20, 5);
        i += run;
        continue;
      }
      if (run >= 4) {
        run = std::min(run, 19);
        Add(17, run - 4, 4);
        i += run;
        continue;
      }
    } else {
      // Only runs whose old lengths agree too, so that every reading of the run gives the same.
      while (i + run < count && run < 5 && lengths[i + run] == lengths[i] && previous[i + run] == previous[i]) ++run;
      if (run >= 4) {
        Add(19, run - 4, 1);
        Add(delta(i), 0, 0);
        i += run;
        continue;
      }
    }
    Add(delta(i), 0, 0);
    ++i;
  }
  BuildLengths(Freq, PretreeSymbols, MaxPretreeBits, Lengths);
}

uint64_t TLengthTokens::Bits() const {
  uint64_t bits = PretreeSymbols * 4;
  for (const auto& token : Tokens) bits += Lengths[token[0]] + token[2];
  return bits;
}

void TLengthTokens::Write(TBitWriter& out) const {
  uint16_t codes[PretreeSymbols];
  MakeCodes(Lengths, PretreeSymbols, codes);
  for (uint8_t length : Lengths) out.Put(length, 4);
  for (const auto& token : Tokens) {
    out.Put(codes[token[0]], Lengths[token[0]]);
    if (token[2]) out.Put(token[1], token[2]);
  }
}

}  // namespace lzx
