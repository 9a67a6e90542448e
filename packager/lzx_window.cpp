#include "packager/lzx_window.h"

#include <algorithm>

#include "packager/lzx_format.h"

namespace lzx {

// Room for a window and the frame, moved down once per window rather than once per frame; the
// 8 bytes after the last let MatchLength read words.
TWindow::TWindow(unsigned windowBits) : WindowSize(1u << windowBits), Buffer(2 * size_t(WindowSize) + LzxFrameSize + 8) {}

uint32_t TWindow::AddFrame(const unsigned char* data, uint32_t size) {
  if (size_t(DataEnd - BufferStart) + size + 8 > Buffer.size()) {
    const uint32_t keep = std::min(WindowSize, DataEnd - BufferStart);
    std::memmove(Buffer.data(), At(DataEnd - keep), keep);
    BufferStart = DataEnd - keep;
  }
  unsigned char* frame = Buffer.data() + (DataEnd - BufferStart);
  std::memcpy(frame, data, size);
  TranslateCalls(frame, size);
  const uint32_t start = DataEnd;
  DataEnd += size;
  ++Frames;
  return start;
}

// Makes x86 CALL targets absolute, so that calls to one function look alike wherever they are.
void TWindow::TranslateCalls(unsigned char* data, uint32_t size) const {
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

}  // namespace lzx
