// Rebuilds a program's resource section in two steps: plan where the new section goes (in place
// of the old one where that is safe, else behind everything), then write the image front to back
// with the new section, fixing the headers and the checksum.
#include "packager/pe_resources.h"

#include <algorithm>

#include "format/byte_order.h"
#include "format/pe.h"

namespace {

constexpr uint32_t ResourceCharacteristics = PeSectionInitializedData | PeSectionReadable;
constexpr uint64_t ImageLimit = 0x7FFFFFFF;
constexpr uint32_t UsualDirectories = 16;

// Where the new resource section goes and what of the old file stays.
struct SectionPlan {
  std::string Head;         // the headers to write; the new section's fields are filled in later
  size_t Header = 0;        // where in Head the new section's header goes
  PeSectionPlace Fresh{};   // its address and file place; the sizes follow from the tree
  uint32_t OldRawSize = 0;  // the file bytes of the section it replaces
  uint64_t Keep = 0;        // the old file's bytes up to here stay
  int Moved = -1;           // the relocation section, moved up behind the new resources
  PeSectionPlace MovedPlace{};
};

// Whether section i holds the base relocations and nothing else that a directory points at.
bool IsRelocationSection(const PeImage& image, int i) {
  PeSectionPlace s = SectionAt(image, i);
  uint64_t end = uint64_t(s.VirtualAddress) + std::max(s.VirtualSize, s.RawSize);
  if (DirectoryCount(image) <= PeDirectory::BaseRelocation ||
      Get32(image.Head, DirectoryAt(image, PeDirectory::BaseRelocation) + PeDirectory::Rva) != s.VirtualAddress)
    return false;
  for (uint32_t d = 0; d < std::min(DirectoryCount(image), UsualDirectories); ++d) {
    uint32_t rva = Get32(image.Head, DirectoryAt(image, d) + PeDirectory::Rva);
    if (d != PeDirectory::BaseRelocation && d != PeDirectory::Security && rva >= s.VirtualAddress && rva < end)
      return false;
  }
  return true;
}

// Decides where the new section goes: in place of the old one when that ends the image, or when
// only the base relocations follow it (they are moved up behind it; nothing refers to their
// place but their directory entry). Otherwise it is added behind everything. A signature cannot
// survive the change; it is taken off (with its bytes when it ends the file).
bool PlanResourceSection(const PeImage& image, SectionPlan& plan, std::string& error) {
  std::string& b = plan.Head;
  b = image.Head;
  uint64_t fileEnd = image.FileSize;  // the end of what is kept of the old file
  const uint32_t opt = image.OptionalHeader;
  const uint32_t sectionAlignment = Get32(b, opt + PeOptional::SectionAlignment);
  const uint32_t fileAlignment = Get32(b, opt + PeOptional::FileAlignment);

  size_t security = DirectoryAt(image, PeDirectory::Security);
  uint32_t certificateAt = Get32(b, security + PeDirectory::Rva), certificateSize = Get32(b, security + PeDirectory::Size);
  if (certificateSize > 0 && uint64_t(certificateAt) + certificateSize == fileEnd && certificateAt >= b.size())
    fileEnd = certificateAt;
  Set32(b, security + PeDirectory::Rva, 0);
  Set32(b, security + PeDirectory::Size, 0);

  uint32_t oldRva = Get32(b, DirectoryAt(image, PeDirectory::Resource) + PeDirectory::Rva);
  int lastInMemory = 0, lastInFile = -1, old = -1, beforeLast = -1;
  uint64_t memoryEnd = 0, rawEnd = 0;
  for (int i = 0; i < image.SectionCount; ++i) {
    PeSectionPlace s = SectionAt(image, i);
    uint64_t end = uint64_t(s.VirtualAddress) + std::max(s.VirtualSize, s.RawSize);
    if (end >= memoryEnd) beforeLast = lastInMemory, memoryEnd = end, lastInMemory = i;
    if (s.RawSize > 0 && uint64_t(s.RawPointer) + s.RawSize >= rawEnd)
      rawEnd = uint64_t(s.RawPointer) + s.RawSize, lastInFile = i;
    if (oldRva != 0 && s.VirtualAddress == oldRva) old = i;
  }
  // A section said to reach past what a program can address would put the new one back at its start.
  if (AlignUp(memoryEnd, sectionAlignment) > ImageLimit) {
    error = "its section table is damaged";
    return false;
  }
  PeSectionPlace last = SectionAt(image, lastInMemory);
  bool lastEndsFile = (lastInFile == lastInMemory || last.RawSize == 0) &&
                      (last.RawSize == 0 || uint64_t(last.RawPointer) + last.RawSize >= fileEnd);
  if (old >= 0 && old != lastInMemory && old == beforeLast && lastEndsFile && last.RawSize > 0 &&
      IsRelocationSection(image, lastInMemory)) {
    PeSectionPlace o = SectionAt(image, old);
    if (o.RawSize > 0 && AlignUp(uint64_t(o.RawPointer) + o.RawSize, fileAlignment) == last.RawPointer)
      plan.Moved = lastInMemory, plan.MovedPlace = last;
  }
  bool inPlace = old >= 0 && (old == lastInMemory ? lastEndsFile : plan.Moved >= 0);
  // Rewritten in place, the file is cut at the old section's data: a section whose data lies past
  // that (sections that overlap in the file) would lose it, so the new one goes after them all.
  for (int i = 0; inPlace && i < image.SectionCount; ++i) {
    PeSectionPlace s = SectionAt(image, i), o = SectionAt(image, old);
    if (i != old && i != plan.Moved && s.RawSize > 0 && o.RawSize > 0 &&
        uint64_t(s.RawPointer) + s.RawSize > o.RawPointer)
      inPlace = false, plan.Moved = -1;
  }

  plan.Keep = fileEnd;
  if (inPlace) {
    PeSectionPlace o = SectionAt(image, old);
    plan.Header = SectionHeaderAt(image, old);
    plan.Fresh.VirtualAddress = o.VirtualAddress;
    plan.Fresh.RawPointer = o.RawSize > 0 ? o.RawPointer : uint32_t(AlignUp(fileEnd, fileAlignment));
    plan.Keep = std::min<uint64_t>(plan.Fresh.RawPointer, fileEnd);
    plan.OldRawSize = o.RawSize;
  } else {
    plan.Header = SectionHeaderAt(image, image.SectionCount);
    uint64_t firstData = Get32(b, opt + PeOptional::SizeOfHeaders);
    for (int i = 0; i < image.SectionCount; ++i) {
      PeSectionPlace s = SectionAt(image, i);
      if (s.RawSize > 0) firstData = std::min<uint64_t>(firstData, s.RawPointer);
    }
    if (plan.Header + PeSection::Size > std::min<uint64_t>(firstData, b.size()) ||
        b.find_first_not_of('\0', plan.Header) < plan.Header + PeSection::Size) {
      error = "it has no room in its header for another section";
      return false;
    }
    plan.Fresh.VirtualAddress = uint32_t(AlignUp(memoryEnd, sectionAlignment));
    plan.Fresh.RawPointer = uint32_t(AlignUp(fileEnd, fileAlignment));
    Set16(b, image.FileHeader + PeFileHeader::SectionCount, image.SectionCount + 1u);
  }
  if (plan.Keep < b.size()) {
    error = "its section table is damaged";
    return false;
  }
  return true;
}

// Writes the image front to back, keeping the usual PE checksum as it goes: 16-bit words added
// with the carries folded back in, plus the length. The checksum field is written as zero.
class TImageOutput {
 public:
  explicit TImageOutput(std::ostream& out) : Out(out) {}

  void Write(const std::string& bytes) {
    Add(bytes.data(), bytes.size());
    Out.write(bytes.data(), std::streamsize(bytes.size()));
  }
  void ZerosTo(uint64_t end) {
    static const char zeros[4096] = {};
    while (Written < end) {
      size_t count = size_t(std::min<uint64_t>(end - Written, sizeof zeros));
      Add(zeros, count);
      Out.write(zeros, std::streamsize(count));
    }
  }
  bool Copy(const FileSpan& span) {
    return CopySpan(span, Out, [this](const char* data, size_t count) { Add(data, count); });
  }
  uint64_t Size() const { return Written; }
  uint32_t Checksum() const {
    uint64_t sum = Sum;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return uint32_t(sum + Written);
  }

 private:
  void Add(const char* data, size_t count) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
    size_t i = 0;
    if (count > 0 && (Written & 1)) Sum += uint32_t(p[i++]) << 8;
    for (; i + 1 < count; i += 2) Sum += p[i] | uint32_t(p[i + 1]) << 8;
    if (i < count) Sum += p[i];
    Written += count;
  }

  std::ostream& Out;
  uint64_t Written = 0, Sum = 0;
};

}  // namespace

bool RebuildResources(const PeImage& image, const std::vector<ResourceItem>& items, std::ostream& out,
                      std::string& error) {
  SectionPlan plan;
  if (!PlanResourceSection(image, plan, error)) return false;
  std::string& b = plan.Head;
  const uint32_t opt = image.OptionalHeader;
  const uint32_t sectionAlignment = Get32(b, opt + PeOptional::SectionAlignment);
  const uint32_t fileAlignment = Get32(b, opt + PeOptional::FileAlignment);
  PeSectionPlace& fresh = plan.Fresh;

  std::vector<PlacedData> placed;
  uint64_t sectionSize = 0;
  std::string section = LayOutResourceSection(items, fresh.VirtualAddress, placed, sectionSize);
  uint64_t rawSize = AlignUp(sectionSize, fileAlignment);
  uint64_t imageEnd = uint64_t(fresh.VirtualAddress) + sectionSize;
  uint64_t tailRva = AlignUp(imageEnd, sectionAlignment);
  FileSpan tail;
  if (plan.Moved >= 0) {
    tail = {image.File, plan.MovedPlace.RawPointer, plan.MovedPlace.RawSize};
    imageEnd = tailRva + std::max(plan.MovedPlace.VirtualSize, plan.MovedPlace.RawSize);
  }
  uint64_t imageSize = AlignUp(imageEnd, sectionAlignment);
  if (rawSize + tail.Size + fresh.RawPointer > ImageLimit || imageSize > ImageLimit) {
    error = "the package would be larger than a Windows program can be (2 GB)";
    return false;
  }
  fresh.VirtualSize = uint32_t(sectionSize);
  fresh.RawSize = uint32_t(rawSize);

  if (plan.Moved >= 0) {
    size_t at = SectionHeaderAt(image, plan.Moved);
    Set32(b, at + PeSection::VirtualAddress, uint32_t(tailRva));
    Set32(b, at + PeSection::RawPointer, fresh.RawPointer + fresh.RawSize);
    Set32(b, DirectoryAt(image, PeDirectory::BaseRelocation) + PeDirectory::Rva, uint32_t(tailRva));
  }
  static const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
  const size_t header = plan.Header;
  b.replace(header + PeSection::Name, 8, name, 8);
  Set32(b, header + PeSection::VirtualSize, fresh.VirtualSize);
  Set32(b, header + PeSection::VirtualAddress, fresh.VirtualAddress);
  Set32(b, header + PeSection::RawSize, fresh.RawSize);
  Set32(b, header + PeSection::RawPointer, fresh.RawPointer);
  std::fill(b.begin() + header + PeSection::Relocations, b.begin() + header + PeSection::Characteristics, '\0');
  Set32(b, header + PeSection::Characteristics, ResourceCharacteristics);

  const size_t initialized = opt + PeOptional::SizeOfInitializedData;
  Set32(b, initialized, uint32_t(Get32(b, initialized) - plan.OldRawSize + fresh.RawSize));
  Set32(b, opt + PeOptional::SizeOfImage, uint32_t(imageSize));
  const size_t resource = DirectoryAt(image, PeDirectory::Resource);
  Set32(b, resource + PeDirectory::Rva, fresh.VirtualAddress);
  Set32(b, resource + PeDirectory::Size, fresh.VirtualSize);
  Set32(b, opt + PeOptional::CheckSum, 0);

  // Out in file order: the headers, the kept sections, the new one, the moved relocations.
  TImageOutput written(out);
  written.Write(b);
  bool copied = written.Copy({image.File, b.size(), plan.Keep - b.size()});
  written.ZerosTo(fresh.RawPointer);
  written.Write(section);
  for (const PlacedData& p : placed) {
    written.ZerosTo(fresh.RawPointer + p.At);
    copied = copied && written.Copy(p.Item->Place);
  }
  written.ZerosTo(uint64_t(fresh.RawPointer) + fresh.RawSize);
  copied = copied && written.Copy(tail);
  std::string checksum(4, '\0');
  Set32(checksum, 0, written.Checksum());
  if (!copied || !out.seekp(opt + PeOptional::CheckSum) || !out.write(checksum.data(), 4) || !out.seekp(0, std::ios::end)) {
    error = out ? "it or the data to go into it cannot be read" : "the package cannot be written";
    return false;
  }
  return true;
}
