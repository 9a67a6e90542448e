// Small hand-made PE32 and PE32+ images for the packager's host tests.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace {

// Offsets in a PE32 image; a PE32+ image's optional header is 16 bytes longer, and its data
// directories start 16 bytes later.
constexpr uint32_t Pe = 0x40, Opt = Pe + 24, Table = Opt + 224;

struct ImageFormat {
  uint16_t Machine, Magic, OptionalSize, Directories;
};
constexpr ImageFormat Pe32{0x14C, 0x10B, 224, 96}, Pe32Plus{0x8664, 0x20B, 240, 112};

inline void Put16(std::string& b, size_t at, uint32_t v) {
  if (b.size() < at + 2) b.resize(at + 2, '\0');
  b[at] = char(v);
  b[at + 1] = char(v >> 8);
}
inline void Put32(std::string& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}
inline uint32_t Get16(const std::string& b, size_t at) { return uint8_t(b[at]) | uint32_t(uint8_t(b[at + 1])) << 8; }
inline uint32_t Get32(const std::string& b, size_t at) { return Get16(b, at) | Get16(b, at + 2) << 16; }

struct TestSection {
  std::string Name, Data;
};

// A GUI program's image: the sections one after the other from RVA 0x1000, file data from
// `headers`. A section named ".rsrc" becomes the resource directory, one named ".reloc" the
// relocations.
inline std::string MakeImage(const std::vector<TestSection>& sections, uint32_t headers = 0x200,
                             const ImageFormat& format = Pe32) {
  std::string b(headers, '\0');
  b[0] = 'M', b[1] = 'Z';
  Put32(b, 0x3C, Pe);
  b.replace(Pe, 4, std::string("PE\0\0", 4));
  Put16(b, Pe + 4, format.Machine);
  Put16(b, Pe + 6, uint32_t(sections.size()));
  Put16(b, Pe + 20, format.OptionalSize);
  Put16(b, Pe + 22, 0x102);
  Put16(b, Opt, format.Magic);
  Put32(b, Opt + 32, 0x1000);
  Put32(b, Opt + 36, 0x200);
  Put32(b, Opt + 60, headers);
  Put16(b, Opt + 68, 2);
  Put32(b, Opt + format.Directories - 4, 16);
  uint32_t rva = 0x1000;
  for (size_t i = 0; i < sections.size(); ++i) {
    const TestSection& s = sections[i];
    uint32_t header = Opt + format.OptionalSize + 40 * uint32_t(i), raw = uint32_t(b.size());
    uint32_t rawSize = (uint32_t(s.Data.size()) + 0x1FF) & ~0x1FFu;
    b.replace(header, s.Name.size(), s.Name);
    Put32(b, header + 8, uint32_t(s.Data.size()));
    Put32(b, header + 12, rva);
    Put32(b, header + 16, rawSize);
    Put32(b, header + 20, raw);
    Put32(b, header + 36, 0x40000040);
    if (s.Name == ".rsrc" || s.Name == ".reloc") {
      uint32_t directory = Opt + format.Directories + (s.Name == ".rsrc" ? 16 : 40);
      Put32(b, directory, rva);
      Put32(b, directory + 4, uint32_t(s.Data.size()));
    }
    b += s.Data;
    b.resize(raw + rawSize, '\0');
    rva += (uint32_t(s.Data.size()) + 0xFFF) & ~0xFFFu;
  }
  Put32(b, Opt + 56, rva);
  return b;
}

}  // namespace
