// LZX's bit stream: bits go into 16-bit little-endian words, most significant bit first.
#pragma once
#include <cstdint>
#include <vector>

namespace lzx {

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
      const uint32_t word = Acc >> Count;
      Out.push_back(static_cast<unsigned char>(word));
      Out.push_back(static_cast<unsigned char>(word >> 8));
      Acc &= (1u << Count) - 1;
    }
  }
  // Pads with zeros to the next word.
  void Align() {
    if (Count) Put(0, 16 - Count);
  }
  int Pending() const { return Count; }

 private:
  std::vector<unsigned char>& Out;
  uint32_t Acc = 0;
  int Count = 0;
};

}  // namespace lzx
