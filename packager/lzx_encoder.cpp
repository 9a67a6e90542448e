// LZX as cabinet readers (cabinet.dll, libmspack) decode it. Each frame is parsed as it comes
// (hash chains over the whole window, lazy matching, the three repeated offsets), then frames
// are gathered into blocks while one set of Huffman trees codes them more cheaply than separate
// sets would. A block is written verbatim, aligned-offset or, where that is smaller, uncompressed.
// Matches never cross a frame, and blocks start on frames, so every frame ends cleanly.
//
// What it relies on in decoders, and what it keeps clear of so that every decoder reads the same
// bytes: matches of 2 to 257 bytes that overlap what they copy (every decoder copies byte by
// byte or in pieces that stay behind the source); no match at the format's largest distance
// (LzxMaxDistance: 7-Zip misreads it); E8 translation over all but a frame's last 10 bytes, and
// only in the first 32768 frames, as cabinet.dll and libmspack translate; the three repeated
// offsets start at 1 in each folder and carry over between blocks.
#include "packager/lzx_encoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <queue>
#include <utility>

namespace {

constexpr uint32_t MinMatch = 2;
constexpr uint32_t MaxMatch = 257;
constexpr int Literals = 256;
constexpr int MaxMainSymbols = Literals + 50 * 8;
constexpr int LengthSymbols = 249;
constexpr int AlignedSymbols = 8;
constexpr int PretreeSymbols = 20;
constexpr int MaxCodeBits = 16;
constexpr int MaxPretreeBits = 15;  // pre-tree lengths are stored in 4 bits
constexpr int MaxAlignedBits = 7;   // aligned-offset lengths are stored in 3 bits
constexpr int VerbatimBlock = 1, AlignedBlock = 2, UncompressedBlock = 3;
constexpr uint32_t TranslationSize = 12000000;  // the E8 file size makecab announces
constexpr uint32_t TranslatedFrames = 32768;    // decoders translate only the first 1 GB
constexpr size_t MaxBlockFrames = 16;           // frames held back for one block: 512 KB

// Match search effort: chain links followed, the length after which only a quarter of them
// are, the length up to which a match waits for a better one a byte on, and the length that
// ends the search.
constexpr int ChainDepth = 48;
constexpr uint32_t GoodLength = 24;
constexpr uint32_t LazyLength = 48;
constexpr uint32_t NiceLength = 128;
constexpr uint32_t SparseAfterMisses = 64;

struct TSlotTables {
  uint32_t Base[51];
  uint8_t ExtraBits[51];
  TSlotTables() {
    for (int i = 0, bits = 0; i < 51; i += 2) {
      ExtraBits[i] = static_cast<uint8_t>(bits);
      if (i + 1 < 51) ExtraBits[i + 1] = static_cast<uint8_t>(bits);
      if (i != 0 && bits < 17) ++bits;
    }
    for (uint32_t i = 0, base = 0; i < 51; ++i) {
      Base[i] = base;
      base += 1u << ExtraBits[i];
    }
  }
};
const TSlotTables Slots;

int PositionSlots(unsigned windowBits) { return windowBits == 21 ? 50 : windowBits == 20 ? 42 : int(windowBits) * 2; }

// The slot of a formatted offset (distance + 2): two per power of two, then steps of 2^17.
uint32_t SlotOf(uint32_t formatted) {
  if (formatted < 4) return formatted;
  if (formatted >= (1u << 18)) return 36 + ((formatted - (1u << 18)) >> 17);
  uint32_t high = 31 - static_cast<uint32_t>(__builtin_clz(formatted));
  return 2 * high + ((formatted >> (high - 1)) & 1);
}

// One coded element: a literal (Main < 256) or a match with its length footer and offset bits.
struct TItem {
  uint16_t Main;
  uint8_t LengthFooter;
  uint8_t ExtraBits;
  uint32_t Extra;
};

struct TFreqs {
  std::array<uint32_t, MaxMainSymbols> Main{};
  std::array<uint32_t, LengthSymbols> Length{};
  std::array<uint32_t, AlignedSymbols> Aligned{};  // low three offset bits of matches with 3+ extra bits
  uint64_t ExtraBits = 0;                          // all offset bits, as a verbatim block writes them

  TFreqs& operator+=(const TFreqs& other) {
    for (size_t i = 0; i < Main.size(); ++i) Main[i] += other.Main[i];
    for (size_t i = 0; i < Length.size(); ++i) Length[i] += other.Length[i];
    for (size_t i = 0; i < Aligned.size(); ++i) Aligned[i] += other.Aligned[i];
    ExtraBits += other.ExtraBits;
    return *this;
  }
};

struct TFrame {
  std::vector<unsigned char> Data;  // after E8 translation: what an uncompressed block holds
  std::vector<TItem> Items;
  TFreqs Freqs;
  uint32_t Repeats[3];              // the repeated offsets after this frame
  std::vector<unsigned char> Packed;
};

// Huffman code lengths no longer than `limit`. A lone used symbol gets a partner so that the
// code is complete, which every decoder requires of a code that is not empty.
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
      TNode a = queue.top();
      queue.pop();
      TNode b = queue.top();
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

// Canonical codes: shorter codes first, equal lengths in symbol order, read most significant bit first.
void MakeCodes(const uint8_t* lengths, int count, uint16_t* codes) {
  uint32_t perLength[MaxCodeBits + 1] = {};
  for (int i = 0; i < count; ++i) perLength[lengths[i]]++;
  perLength[0] = 0;
  uint32_t next[MaxCodeBits + 2] = {};
  for (int bits = 1; bits <= MaxCodeBits; ++bits) next[bits + 1] = (next[bits] + perLength[bits]) << 1;
  for (int i = 0; i < count; ++i)
    if (lengths[i]) codes[i] = static_cast<uint16_t>(next[lengths[i]]++);
}

// Bits go into 16-bit little-endian words, most significant bit first.
class TBitWriter {
 public:
  explicit TBitWriter(std::vector<unsigned char>& out) : Out(out) {}
  void Put(uint32_t value, int bits) {
    if (bits > 16) {
      Put(value >> 16, bits - 16);
      bits = 16;
      value &= 0xFFFF;
    }
    Acc = (Acc << bits) | value;
    Count += bits;
    if (Count >= 16) {
      Count -= 16;
      uint32_t word = Acc >> Count;
      Out.push_back(static_cast<unsigned char>(word));
      Out.push_back(static_cast<unsigned char>(word >> 8));
      Acc &= (1u << Count) - 1;
    }
  }
  void Align() {
    if (Count) Put(0, 16 - Count);
  }
  int Pending() const { return Count; }

 private:
  std::vector<unsigned char>& Out;
  uint32_t Acc = 0;
  int Count = 0;
};

// A length table as the pre-tree codes it, against the table the previous block left.
struct TLengthTokens {
  std::vector<std::array<uint8_t, 3>> Tokens;  // symbol, extra value, extra bits
  uint32_t Freq[PretreeSymbols] = {};
  uint8_t Lengths[PretreeSymbols] = {};

  TLengthTokens(const uint8_t* previous, const uint8_t* lengths, int count) {
    auto add = [this](int symbol, int extra, int bits) {
      Tokens.push_back({static_cast<uint8_t>(symbol), static_cast<uint8_t>(extra), static_cast<uint8_t>(bits)});
      Freq[symbol]++;
    };
    auto delta = [&](int i) { return (previous[i] - lengths[i] + 17) % 17; };
    for (int i = 0; i < count;) {
      int run = 1;
      if (lengths[i] == 0) {
        while (i + run < count && lengths[i + run] == 0) ++run;
        if (run >= 20) {
          run = std::min(run, 51);
          add(18, run - 20, 5);
          i += run;
          continue;
        }
        if (run >= 4) {
          run = std::min(run, 19);
          add(17, run - 4, 4);
          i += run;
          continue;
        }
      } else {
        // Only runs whose old lengths agree too, so that every reading of the run gives the same.
        while (i + run < count && run < 5 && lengths[i + run] == lengths[i] && previous[i + run] == previous[i]) ++run;
        if (run >= 4) {
          add(19, run - 4, 1);
          add(delta(i), 0, 0);
          i += run;
          continue;
        }
      }
      add(delta(i), 0, 0);
      ++i;
    }
    BuildLengths(Freq, PretreeSymbols, MaxPretreeBits, Lengths);
  }

  uint64_t Bits() const {
    uint64_t bits = PretreeSymbols * 4;
    for (const auto& token : Tokens) bits += Lengths[token[0]] + token[2];
    return bits;
  }

  void Write(TBitWriter& out) const {
    uint16_t codes[PretreeSymbols];
    MakeCodes(Lengths, PretreeSymbols, codes);
    for (uint8_t length : Lengths) out.Put(length, 4);
    for (const auto& token : Tokens) {
      out.Put(codes[token[0]], Lengths[token[0]]);
      if (token[2]) out.Put(token[1], token[2]);
    }
  }
};

struct TTrees {
  uint8_t Main[MaxMainSymbols] = {};
  uint8_t Length[LengthSymbols] = {};
  uint8_t Aligned[AlignedSymbols] = {};
  int Type = VerbatimBlock;
};

}  // namespace

struct TLzxEncoder::TState {
  unsigned WindowBits;
  uint32_t WindowSize;
  uint32_t MaxDistance;
  int MainSymbols;
  unsigned HashBits;                  // as many heads as window positions: every false link costs a cache miss

  std::vector<unsigned char> Buffer;  // the window behind the current frame, and the frame
  uint32_t BufferStart = 0;           // stream position of Buffer[0]
  uint32_t DataEnd = 0;               // stream position after the last byte taken
  static constexpr unsigned Hash3Bits = 14;
  std::vector<uint32_t> Head3;        // newest position + 1 per three-byte hash, 0 for none
  std::vector<uint32_t> Head;         // newest position + 1 per four-byte hash, 0 for none
  std::vector<uint32_t> Chain;        // previous position + 1 with the same hash, by position in the window
  uint32_t Inserted = 0;              // positions below this are in the chains
  uint32_t Repeats[3] = {1, 1, 1};
  uint32_t Misses = 0;                // positions searched in vain since the last match
  uint32_t Frames = 0;

  // Frames parsed but not yet written, with their running block; frames written, waiting.
  std::deque<TFrame> Pending;
  TFreqs PendingFreqs;
  uint64_t PendingCost = 0;
  std::deque<TFrame> Ready;
  bool StreamStarted = false;
  uint8_t PreviousMain[MaxMainSymbols] = {};
  uint8_t PreviousLength[LengthSymbols] = {};

  explicit TState(unsigned windowBits)
      : WindowBits(std::clamp(windowBits, LzxMinWindowBits, LzxMaxWindowBits)),
        WindowSize(1u << WindowBits),
        MaxDistance(LzxMaxDistance(WindowBits)),
        MainSymbols(Literals + PositionSlots(WindowBits) * 8),
        HashBits(std::max(16u, WindowBits)),
        Buffer(2 * size_t(WindowSize) + LzxFrameSize + 8),
        Head3(size_t(1) << Hash3Bits),
        Head(size_t(1) << HashBits),
        Chain(WindowSize) {}

  const unsigned char* At(uint32_t position) const { return Buffer.data() + (position - BufferStart); }

  // Makes x86 CALL targets absolute, so that calls to one function look alike wherever they are.
  void TranslateCalls(unsigned char* data, uint32_t size) const {
    if (Frames >= TranslatedFrames || size <= 10) return;
    const int64_t frameStart = int64_t(Frames) * LzxFrameSize;
    for (uint32_t i = 0; i < size - 10;) {
      if (data[i] != 0xE8) {
        ++i;
        continue;
      }
      const int32_t relative = int32_t(uint32_t(data[i + 1]) | uint32_t(data[i + 2]) << 8 |
                                       uint32_t(data[i + 3]) << 16 | uint32_t(data[i + 4]) << 24);
      const int64_t current = frameStart + i;
      int64_t absolute = relative;
      if (relative >= -current && relative < int64_t(TranslationSize) - current)
        absolute = relative + current;
      else if (relative >= int64_t(TranslationSize) - current && relative < int64_t(TranslationSize))
        absolute = relative - int64_t(TranslationSize);
      for (int b = 0; b < 4; ++b) data[i + 1 + b] = static_cast<unsigned char>(uint64_t(absolute) >> (8 * b));
      i += 5;
    }
  }

  // Chains link positions with the same four bytes; three-byte matches, worth coding only
  // near by, come from the newest position with the same three bytes.
  uint32_t Hash4(uint32_t position) const {
    uint32_t key;
    std::memcpy(&key, At(position), 4);
    return (key * 2654435761u) >> (32 - HashBits);
  }
  uint32_t Hash3(uint32_t position) const {
    const unsigned char* p = At(position);
    uint32_t key = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    return (key * 2654435761u) >> (32 - Hash3Bits);
  }

  void InsertUpTo(uint32_t position) {
    const uint32_t end = std::min(position, DataEnd - std::min<uint32_t>(DataEnd, 3));
    for (; Inserted < end; ++Inserted) {
      // The head table is larger than the caches: ask early for the entries soon needed.
      if (Inserted + 8 < DataEnd - 3) __builtin_prefetch(&Head[Hash4(Inserted + 8)], 1);
      Head3[Hash3(Inserted)] = Inserted + 1;
      uint32_t& head = Head[Hash4(Inserted)];
      Chain[Inserted & (WindowSize - 1)] = head;
      head = Inserted + 1;
    }
  }

  uint32_t MatchLength(uint32_t a, uint32_t b, uint32_t limit) const {
    const unsigned char* p = At(a);
    const unsigned char* q = At(b);
    uint32_t length = 0;
    while (length + 8 <= limit) {
      uint64_t x, y;
      std::memcpy(&x, p + length, 8);
      std::memcpy(&y, q + length, 8);
      if (x != y) return length + static_cast<uint32_t>(__builtin_ctzll(x ^ y) >> 3);
      length += 8;
    }
    while (length < limit && p[length] == q[length]) ++length;
    return length;
  }

  struct TMatch {
    uint32_t Length = 0;
    uint32_t Distance = 0;
    int Gain = 0;
  };

  // Bits a match saves over literals, roughly: a literal ~6 bits, a match symbol ~8, a repeated
  // offset no offset bits. (These weights gave the smallest output on programs and on text.)
  int GainOf(uint32_t length, uint32_t distance) const {
    int cost = 8 + (length >= 9 ? 5 : 0);
    if (distance != Repeats[0] && distance != Repeats[1] && distance != Repeats[2])
      cost += 1 + Slots.ExtraBits[SlotOf(distance + 2)];
    else
      cost -= 1;
    return int(length) * 6 - cost;
  }

  TMatch BestMatch(uint32_t position, uint32_t frameEnd) {
    TMatch best;
    const uint32_t limit = std::min(MaxMatch, frameEnd - position);
    if (limit < MinMatch) return best;
    InsertUpTo(position);
    for (uint32_t distance : Repeats) {
      if (distance > position) continue;
      uint32_t length = MatchLength(position, position - distance, limit);
      if (length < MinMatch) continue;
      int gain = GainOf(length, distance);
      if (gain > best.Gain) best = {length, distance, gain};
    }
    if (limit < 3 || DataEnd - position < 4) return best;
    const unsigned char* here = At(position);
    if (const uint32_t near = Head3[Hash3(position)]; near && position - (near - 1) <= MaxDistance) {
      uint32_t length = MatchLength(position, near - 1, limit);
      int gain = length >= 3 ? GainOf(length, position - (near - 1)) : 0;
      if (gain > best.Gain) best = {length, position - (near - 1), gain};
    }
    uint32_t longest = std::max<uint32_t>(best.Length, 3);
    int depth = best.Length >= GoodLength ? ChainDepth / 4 : ChainDepth;
    for (uint32_t candidate = Head[Hash4(position)]; candidate && depth-- > 0 && longest < limit;) {
      const uint32_t from = candidate - 1;
      const uint32_t distance = position - from;
      if (distance > MaxDistance) break;
      const unsigned char* there = At(from);
      if (there[longest] == here[longest] && there[0] == here[0]) {
        uint32_t length = MatchLength(position, from, limit);
        if (length > longest) {
          int gain = GainOf(length, distance);
          if (gain > best.Gain) {
            best = {length, distance, gain};
            longest = length;
            if (length >= NiceLength) break;
          }
        }
      }
      candidate = Chain[from & (WindowSize - 1)];
    }
    return best;
  }

  static void AddLiteral(TFrame& frame, unsigned char byte) {
    frame.Items.push_back({byte, 0, 0, 0});
    frame.Freqs.Main[byte]++;
  }

  void AddMatch(TFrame& frame, uint32_t length, uint32_t distance) {
    uint32_t slot;
    uint8_t extraBits = 0;
    uint32_t extra = 0;
    if (distance == Repeats[0]) {
      slot = 0;
    } else if (distance == Repeats[1]) {
      slot = 1;
      std::swap(Repeats[0], Repeats[1]);
    } else if (distance == Repeats[2]) {
      slot = 2;
      std::swap(Repeats[0], Repeats[2]);
    } else {
      const uint32_t formatted = distance + 2;
      slot = SlotOf(formatted);
      extraBits = Slots.ExtraBits[slot];
      extra = formatted - Slots.Base[slot];
      Repeats[2] = Repeats[1];
      Repeats[1] = Repeats[0];
      Repeats[0] = distance;
    }
    const uint32_t header = std::min<uint32_t>(length - MinMatch, 7);
    const uint16_t main = static_cast<uint16_t>(Literals + slot * 8 + header);
    const uint8_t footer = static_cast<uint8_t>(header == 7 ? length - MinMatch - 7 : 0);
    frame.Items.push_back({main, footer, extraBits, extra});
    frame.Freqs.Main[main]++;
    if (header == 7) frame.Freqs.Length[footer]++;
    frame.Freqs.ExtraBits += extraBits;
    if (extraBits >= 3) frame.Freqs.Aligned[extra & 7]++;
  }

  // Greedy parse with one step of lazy evaluation: a better match one byte on wins.
  void Parse(uint32_t start, uint32_t end, TFrame& frame) {
    frame.Items.reserve(end - start);
    for (uint32_t position = start; position < end;) {
      // Where nothing has matched for a while (noise, packed data) only every fourth position is
      // searched; every one still goes into the chains.
      if (Misses >= SparseAfterMisses && (position & 3) != 0) {
        AddLiteral(frame, *At(position));
        ++position;
        continue;
      }
      TMatch match = BestMatch(position, end);
      if (match.Gain <= 0) {
        AddLiteral(frame, *At(position));
        ++position;
        ++Misses;
        continue;
      }
      Misses = 0;
      while (position + 1 < end && match.Length < LazyLength) {
        TMatch next = BestMatch(position + 1, end);
        if (next.Gain <= match.Gain) break;
        AddLiteral(frame, *At(position));
        ++position;
        match = next;
      }
      AddMatch(frame, match.Length, match.Distance);
      position += match.Length;
    }
    std::copy(Repeats, Repeats + 3, frame.Repeats);
  }

  static uint64_t UncompressedBits(uint32_t size) { return 27 + 16 + 96 + 8 * uint64_t(size + (size & 1)); }

  TTrees MakeTrees(const TFreqs& freqs) const {
    TTrees trees;
    BuildLengths(freqs.Main.data(), MainSymbols, MaxCodeBits, trees.Main);
    BuildLengths(freqs.Length.data(), LengthSymbols, MaxCodeBits, trees.Length);
    BuildLengths(freqs.Aligned.data(), AlignedSymbols, MaxAlignedBits, trees.Aligned);
    return trees;
  }

  // Bits of the coded elements alone, and the aligned-offset saving they would get.
  static uint64_t ElementBits(const TFreqs& freqs, const TTrees& trees, int mainSymbols) {
    uint64_t bits = freqs.ExtraBits;
    for (int i = 0; i < mainSymbols; ++i) bits += uint64_t(freqs.Main[i]) * trees.Main[i];
    for (int i = 0; i < LengthSymbols; ++i) bits += uint64_t(freqs.Length[i]) * trees.Length[i];
    if (trees.Type == AlignedBlock)
      for (int i = 0; i < AlignedSymbols; ++i) bits += uint64_t(freqs.Aligned[i]) * trees.Aligned[i] - 3ull * freqs.Aligned[i];
    return bits;
  }

  // Chooses verbatim or aligned-offset coding; returns the whole block's bits with its trees.
  uint64_t CompressedBits(const TFreqs& freqs, TTrees& trees) const {
    const uint64_t tables = 27 + TLengthTokens(PreviousMain, trees.Main, Literals).Bits() +
                            TLengthTokens(PreviousMain + Literals, trees.Main + Literals, MainSymbols - Literals).Bits() +
                            TLengthTokens(PreviousLength, trees.Length, LengthSymbols).Bits();
    trees.Type = VerbatimBlock;
    const uint64_t verbatim = ElementBits(freqs, trees, MainSymbols);
    trees.Type = AlignedBlock;
    const uint64_t aligned = 24 + ElementBits(freqs, trees, MainSymbols);
    if (verbatim <= aligned) trees.Type = VerbatimBlock;
    return tables + std::min(verbatim, aligned);
  }

  uint64_t CostOf(const TFreqs& freqs, uint64_t uncompressedBits) const {
    TTrees trees = MakeTrees(freqs);
    return std::min(CompressedBits(freqs, trees), uncompressedBits);
  }

  // The stream's header, in front of the first block.
  void StartStream(TBitWriter& out) {
    if (StreamStarted) return;
    StreamStarted = true;
    out.Put(1, 1);  // E8 translation on, with its size
    out.Put(TranslationSize >> 16, 16);
    out.Put(TranslationSize & 0xFFFF, 16);
  }

  void WriteUncompressed(TFrame& frame) {
    TBitWriter out(frame.Packed);
    StartStream(out);
    const uint32_t size = static_cast<uint32_t>(frame.Data.size());
    out.Put(UncompressedBlock, 3);
    out.Put(size >> 8, 16);
    out.Put(size & 0xFF, 8);
    out.Put(0, 16 - out.Pending());  // 1 to 16 bits to the next word
    for (uint32_t repeat : frame.Repeats)
      for (int b = 0; b < 4; ++b) frame.Packed.push_back(static_cast<unsigned char>(repeat >> (8 * b)));
    frame.Packed.insert(frame.Packed.end(), frame.Data.begin(), frame.Data.end());
    if (size & 1) frame.Packed.push_back(0);
  }

  void WriteCompressed(size_t first, size_t last, const TTrees& trees) {
    uint32_t blockSize = 0;
    for (size_t i = first; i < last; ++i) blockSize += static_cast<uint32_t>(Pending[i].Data.size());
    uint16_t mainCodes[MaxMainSymbols] = {}, lengthCodes[LengthSymbols] = {}, alignedCodes[AlignedSymbols] = {};
    MakeCodes(trees.Main, MainSymbols, mainCodes);
    MakeCodes(trees.Length, LengthSymbols, lengthCodes);
    MakeCodes(trees.Aligned, AlignedSymbols, alignedCodes);
    for (size_t i = first; i < last; ++i) {
      TFrame& frame = Pending[i];
      TBitWriter out(frame.Packed);
      if (i == first) {
        StartStream(out);
        out.Put(static_cast<uint32_t>(trees.Type), 3);
        out.Put(blockSize >> 8, 16);
        out.Put(blockSize & 0xFF, 8);
        if (trees.Type == AlignedBlock)
          for (uint8_t length : trees.Aligned) out.Put(length, 3);
        TLengthTokens(PreviousMain, trees.Main, Literals).Write(out);
        TLengthTokens(PreviousMain + Literals, trees.Main + Literals, MainSymbols - Literals).Write(out);
        TLengthTokens(PreviousLength, trees.Length, LengthSymbols).Write(out);
        std::copy(trees.Main, trees.Main + MainSymbols, PreviousMain);
        std::copy(trees.Length, trees.Length + LengthSymbols, PreviousLength);
      }
      for (const TItem& item : frame.Items) {
        out.Put(mainCodes[item.Main], trees.Main[item.Main]);
        if (item.Main < Literals) continue;
        if ((item.Main & 7) == 7) out.Put(lengthCodes[item.LengthFooter], trees.Length[item.LengthFooter]);
        if (trees.Type == AlignedBlock && item.ExtraBits >= 3) {
          out.Put(item.Extra >> 3, item.ExtraBits - 3);
          out.Put(alignedCodes[item.Extra & 7], trees.Aligned[item.Extra & 7]);
        } else if (item.ExtraBits) {
          out.Put(item.Extra, item.ExtraBits);
        }
      }
      out.Align();
    }
  }

  // Writes pending frames [first, last) as one block, or splits where a frame would come out
  // larger than it went in, so that no data block grows past the format's bound.
  void WriteFrames(size_t first, size_t last) {
    if (first == last) return;
    TFreqs freqs;
    uint64_t uncompressed = 0;
    for (size_t i = first; i < last; ++i) {
      freqs += Pending[i].Freqs;
      uncompressed += UncompressedBits(static_cast<uint32_t>(Pending[i].Data.size()));
    }
    TTrees trees = MakeTrees(freqs);
    if (CompressedBits(freqs, trees) >= uncompressed) {
      for (size_t i = first; i < last; ++i) WriteUncompressed(Pending[i]);
      return;
    }
    for (size_t i = first; i < last; ++i) {
      if (last - first > 1 && ElementBits(Pending[i].Freqs, trees, MainSymbols) > 8ull * LzxFrameSize) {
        WriteFrames(first, i);
        WriteFrames(i, i + 1);
        WriteFrames(i + 1, last);
        return;
      }
    }
    WriteCompressed(first, last, trees);
  }

  void FlushPending() {
    WriteFrames(0, Pending.size());
    for (TFrame& frame : Pending) {
      frame.Items = std::vector<TItem>();
      Ready.push_back(std::move(frame));
    }
    Pending.clear();
  }

  void Add(const unsigned char* data, uint32_t size) {
    if (size_t(DataEnd - BufferStart) + size + 8 > Buffer.size()) {
      const uint32_t keep = std::min(WindowSize, DataEnd - BufferStart);
      std::memmove(Buffer.data(), At(DataEnd - keep), keep);
      BufferStart = DataEnd - keep;
    }
    unsigned char* frameData = Buffer.data() + (DataEnd - BufferStart);
    std::memcpy(frameData, data, size);
    TranslateCalls(frameData, size);
    const uint32_t start = DataEnd;
    DataEnd += size;
    TFrame frame;
    frame.Data.assign(frameData, frameData + size);
    Parse(start, DataEnd, frame);
    ++Frames;

    // Join the running block while one set of trees for both costs less than two.
    const uint64_t cost = CostOf(frame.Freqs, UncompressedBits(size));
    if (!Pending.empty() && Pending.size() < MaxBlockFrames) {
      TFreqs joined = PendingFreqs;
      joined += frame.Freqs;
      uint64_t uncompressed = UncompressedBits(size);
      for (const TFrame& pending : Pending) uncompressed += UncompressedBits(static_cast<uint32_t>(pending.Data.size()));
      const uint64_t joinedCost = CostOf(joined, uncompressed);
      if (joinedCost <= PendingCost + cost) {
        PendingFreqs = joined;
        PendingCost = joinedCost;
        Pending.push_back(std::move(frame));
        return;
      }
    }
    FlushPending();
    PendingFreqs = frame.Freqs;
    PendingCost = cost;
    Pending.push_back(std::move(frame));
  }
};

TLzxEncoder::TLzxEncoder(unsigned windowBits) : State(std::make_unique<TState>(windowBits)) {}
TLzxEncoder::~TLzxEncoder() = default;

void TLzxEncoder::AddFrame(const unsigned char* data, uint32_t size) { State->Add(data, size); }

void TLzxEncoder::Finish() { State->FlushPending(); }

bool TLzxEncoder::TakeFrame(std::vector<unsigned char>& packed, uint32_t& size) {
  if (State->Ready.empty()) return false;
  TFrame& frame = State->Ready.front();
  packed = std::move(frame.Packed);
  size = static_cast<uint32_t>(frame.Data.size());
  State->Ready.pop_front();
  return true;
}
