#include "packager/lzx_block_writer.h"

#include <algorithm>

#include "packager/lzx_huffman.h"

namespace lzx {

namespace {

constexpr size_t MaxBlockFrames = 16;           // frames held back for one block: 512 KB

uint64_t UncompressedBits(uint32_t size) { return 27 + 16 + 96 + 8 * uint64_t(size + (size & 1)); }

}  // namespace

TBlockWriter::TBlockWriter(unsigned windowBits) : MainSymbols(Literals + PositionSlots(windowBits) * LengthHeaders) {}

TTrees TBlockWriter::MakeTrees(const TFreqs& freqs) const {
  TTrees trees;
  BuildLengths(freqs.Main.data(), MainSymbols, MaxCodeBits, trees.Main);
  BuildLengths(freqs.Length.data(), LengthSymbols, MaxCodeBits, trees.Length);
  BuildLengths(freqs.Aligned.data(), AlignedSymbols, MaxAlignedBits, trees.Aligned);
  return trees;
}

// Bits of the coded elements alone, and the aligned-offset saving they would get.
uint64_t TBlockWriter::ElementBits(const TFreqs& freqs, const TTrees& trees) const {
  uint64_t bits = freqs.ExtraBits;
  for (int i = 0; i < MainSymbols; ++i) bits += uint64_t(freqs.Main[i]) * trees.Main[i];
  for (int i = 0; i < LengthSymbols; ++i) bits += uint64_t(freqs.Length[i]) * trees.Length[i];
  if (trees.Type == AlignedBlock)
    for (int i = 0; i < AlignedSymbols; ++i) bits += uint64_t(freqs.Aligned[i]) * trees.Aligned[i] - 3ull * freqs.Aligned[i];
  return bits;
}

// Chooses verbatim or aligned-offset coding; returns the whole block's bits with its trees.
uint64_t TBlockWriter::CompressedBits(const TFreqs& freqs, TTrees& trees) const {
  const uint64_t tables = 27 + TLengthTokens(PreviousMain, trees.Main, Literals).Bits() +
                          TLengthTokens(PreviousMain + Literals, trees.Main + Literals, MainSymbols - Literals).Bits() +
                          TLengthTokens(PreviousLength, trees.Length, LengthSymbols).Bits();
  trees.Type = VerbatimBlock;
  const uint64_t verbatim = ElementBits(freqs, trees);
  trees.Type = AlignedBlock;
  const uint64_t aligned = 24 + ElementBits(freqs, trees);
  if (verbatim <= aligned) trees.Type = VerbatimBlock;
  return tables + std::min(verbatim, aligned);
}

uint64_t TBlockWriter::CostOf(const TFreqs& freqs, uint64_t uncompressedBits) const {
  TTrees trees = MakeTrees(freqs);
  return std::min(CompressedBits(freqs, trees), uncompressedBits);
}

// The stream's header, in front of the first block.
void TBlockWriter::StartStream(TBitWriter& out) {
  if (StreamStarted) return;
  StreamStarted = true;
  out.Put(1, 1);  // E8 translation on, with its size
  out.Put(TranslationSize >> 16, 16);
  out.Put(TranslationSize & 0xFFFF, 16);
}

void TBlockWriter::WriteUncompressed(TFrame& frame) {
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

void TBlockWriter::WriteCompressed(size_t first, size_t last, const TTrees& trees) {
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
void TBlockWriter::WriteFrames(size_t first, size_t last) {
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
    if (last - first > 1 && ElementBits(Pending[i].Freqs, trees) > 8ull * LzxFrameSize) {
      WriteFrames(first, i);
      WriteFrames(i, i + 1);
      WriteFrames(i + 1, last);
      return;
    }
  }
  WriteCompressed(first, last, trees);
}

void TBlockWriter::Flush() {
  WriteFrames(0, Pending.size());
  for (TFrame& frame : Pending) {
    frame.Items = std::vector<TItem>();
    ReadyFrames.push_back(std::move(frame));
  }
  Pending.clear();
  PendingFreqs = TFreqs();
}

void TBlockWriter::Add(TFrame&& frame) {
  // Join the running block while one set of trees for both costs less than two.
  const uint32_t size = static_cast<uint32_t>(frame.Data.size());
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
  Flush();
  PendingFreqs = frame.Freqs;
  PendingCost = cost;
  Pending.push_back(std::move(frame));
}

}  // namespace lzx
