// The bytes the match finders search: the window behind the current frame and the frame, after
// E8 call translation, so that they are what a decoder's window holds.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

namespace lzx {

class TWindow {
 public:
  explicit TWindow(unsigned windowBits);

  // Takes the folder's next frame, translates its x86 calls and returns its stream position.
  uint32_t AddFrame(const unsigned char* data, uint32_t size);

  // The byte at a stream position within the window or the frames taken.
  const unsigned char* At(uint32_t position) const { return Buffer.data() + (position - BufferStart); }
  // Stream position after the last byte taken.
  uint32_t End() const { return DataEnd; }

  // How many bytes, up to limit, agree at positions a and b.
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

 private:
  void TranslateCalls(unsigned char* data, uint32_t size) const;

  const uint32_t WindowSize;
  std::vector<unsigned char> Buffer;  // the window behind the current frame, and the frame
  uint32_t BufferStart = 0;           // stream position of Buffer[0]
  uint32_t DataEnd = 0;
  uint32_t Frames = 0;
};

}  // namespace lzx
