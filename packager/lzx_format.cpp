#include "packager/lzx_format.h"

#include <algorithm>
#include <utility>

namespace lzx {

TSlotTables::TSlotTables() {
  for (int i = 0, bits = 0; i <= MaxPositionSlots; i += 2) {
    ExtraBits[i] = static_cast<uint8_t>(bits);
    if (i + 1 <= MaxPositionSlots) ExtraBits[i + 1] = static_cast<uint8_t>(bits);
    if (i != 0 && bits < 17) ++bits;
  }
  for (uint32_t i = 0, base = 0; i <= MaxPositionSlots; ++i) {
    Base[i] = base;
    base += 1u << ExtraBits[i];
  }
}
const TSlotTables Slots;

int PositionSlots(unsigned windowBits) { return windowBits == 21 ? 50 : windowBits == 20 ? 42 : int(windowBits) * 2; }

TFreqs& TFreqs::operator+=(const TFreqs& other) {
  for (size_t i = 0; i < Main.size(); ++i) Main[i] += other.Main[i];
  for (size_t i = 0; i < Length.size(); ++i) Length[i] += other.Length[i];
  for (size_t i = 0; i < Aligned.size(); ++i) Aligned[i] += other.Aligned[i];
  ExtraBits += other.ExtraBits;
  return *this;
}

void AddLiteral(TFrame& frame, unsigned char byte) {
  frame.Items.push_back({byte, 0, 0, 0});
  frame.Freqs.Main[byte]++;
}

void AddMatch(TFrame& frame, uint32_t length, uint32_t distance, uint32_t repeats[3]) {
  uint32_t slot;
  uint8_t extraBits = 0;
  uint32_t extra = 0;
  if (distance == repeats[0]) {
    slot = 0;
  } else if (distance == repeats[1]) {
    slot = 1;
    std::swap(repeats[0], repeats[1]);
  } else if (distance == repeats[2]) {
    slot = 2;
    std::swap(repeats[0], repeats[2]);
  } else {
    const uint32_t formatted = distance + 2;
    slot = SlotOf(formatted);
    extraBits = Slots.ExtraBits[slot];
    extra = formatted - Slots.Base[slot];
    repeats[2] = repeats[1];
    repeats[1] = repeats[0];
    repeats[0] = distance;
  }
  const uint32_t header = std::min<uint32_t>(length - MinMatch, LengthHeaders - 1);
  const uint16_t main = static_cast<uint16_t>(Literals + slot * LengthHeaders + header);
  const uint8_t footer = static_cast<uint8_t>(header == LengthHeaders - 1 ? length - MinMatch - 7 : 0);
  frame.Items.push_back({main, footer, extraBits, extra});
  frame.Freqs.Main[main]++;
  if (header == LengthHeaders - 1) frame.Freqs.Length[footer]++;
  frame.Freqs.ExtraBits += extraBits;
  if (extraBits >= 3) frame.Freqs.Aligned[extra & 7]++;
}

}  // namespace lzx
