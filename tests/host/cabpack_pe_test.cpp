// The resource-section rebuild on small hand-made PE32 and PE32+ images: a tree laid out by hand
// is read back, the rebuilt section replaces or follows the old one as it must, and the headers
// agree.
#include "packager/pe_resources.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "tests/host/cabpack_test_image.h"

namespace {

// A resource section at `rva` laid out by hand, data first and directories in an unusual order:
// icon #1 (language 0x409, code page 1252) and RCDATA "OPT".
std::string HandMadeTree(uint32_t rva) {
  std::string s;
  PutResourceDirectory(s, 0x00, 0, 2);  // root: icons, RCDATA
  PutResourceEntry(s, 0x00, 0, PeResourceIcon, PeResourceHigh | 0x20);
  PutResourceEntry(s, 0x00, 1, PeResourceRcData, PeResourceHigh | 0x38);
  PutResourceDirectory(s, 0x20, 0, 1);  // icons: id 1
  PutResourceEntry(s, 0x20, 0, 1, PeResourceHigh | 0x50);
  PutResourceDirectory(s, 0x38, 1, 0);  // RCDATA: one named entry
  PutResourceEntry(s, 0x38, 0, PeResourceHigh | 0xA0, PeResourceHigh | 0x68);
  PutResourceDirectory(s, 0x50, 0, 1);
  PutResourceEntry(s, 0x50, 0, 0x409, 0x80);
  PutResourceDirectory(s, 0x68, 0, 1);
  PutResourceEntry(s, 0x68, 0, 0, 0x90);
  PutResourceData(s, 0x80, rva + 0xA8, 4, 1252);
  PutResourceData(s, 0x90, rva + 0xAC, 5, 0);
  Put16(s, 0xA0, 3), Put16(s, 0xA2, 'O'), Put16(s, 0xA4, 'P'), Put16(s, 0xA6, 'T');
  s.replace(0xA8, 4, "ICON");
  s += std::string("old\0\0", 5);
  return s;
}

const std::string Code(0x300, '\xC3');

// Images are read from files: each one gets a file of its own, all removed at the end.
class TImageFiles {
 public:
  ~TImageFiles() {
    std::error_code ec;
    std::filesystem::remove_all(Folder, ec);
  }
  std::filesystem::path Add(const std::string& bytes) {
    std::filesystem::create_directories(Folder);
    std::filesystem::path path = Folder / (std::to_string(++Count) + ".exe");
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

 private:
  std::filesystem::path Folder =
      std::filesystem::temp_directory_path() / ("cabpack_pe_test_" + std::to_string(getpid()));
  int Count = 0;
} ImageFiles;

std::vector<ResourceItem> Read(const std::string& bytes) {
  PeImage image;
  std::string error;
  std::vector<ResourceItem> items;
  EXPECT_TRUE(ReadPeImage(ImageFiles.Add(bytes), image, error)) << error;
  EXPECT_TRUE(ReadResources(image, items, error)) << error;
  return items;
}

std::string Rebuild(const std::string& bytes, const std::vector<ResourceItem>& items, std::string* error = nullptr) {
  PeImage image;
  std::ostringstream out;
  std::string message;
  if (!ReadPeImage(ImageFiles.Add(bytes), image, message) || !RebuildResources(image, items, out, message)) {
    if (error) *error = message;
    return std::string();
  }
  return out.str();
}

std::vector<ResourceItem> Packaged(std::vector<ResourceItem> items) {
  PutRcData(items, "CAB", "MSCF cabinet");
  PutRcData(items, "OPT", std::string("HideWindow=1\0\0", 14));
  return items;
}

// The section header whose VirtualAddress is `rva`, as an index; -1 when none.
int SectionAt(const std::string& b, uint32_t rva) {
  for (uint32_t i = 0; i < Get16(b, FileHeader + PeFileHeader::SectionCount); ++i)
    if (Get32(b, SectionField(int(i), PeSection::VirtualAddress)) == rva) return int(i);
  return -1;
}

}  // namespace

TEST(PeResources, ReadsAHandMadeTree) {
  std::vector<ResourceItem> items = Read(MakeImage({{".text", Code}, {".rsrc", HandMadeTree(0x2000)}}));
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(ResourceKeyText(items[0].Type), "#3");
  EXPECT_EQ(ResourceKeyText(items[0].Name), "#1");
  EXPECT_EQ(items[0].Language, 0x409);
  EXPECT_EQ(items[0].CodePage, 1252u);
  EXPECT_EQ(items[0].Data, "ICON");
  const ResourceItem* opt = FindRcData(items, "opt");  // found whatever the case, as FindResourceA does
  ASSERT_NE(opt, nullptr);
  EXPECT_EQ(opt->Data, std::string("old\0\0", 5));
}

TEST(PeResources, ReplacesALastResourceSectionInPlace) {
  std::string stub = MakeImage({{".text", Code}, {".rsrc", HandMadeTree(0x2000)}});
  std::string out = Rebuild(stub, Packaged(Read(stub)));
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(Get16(out, FileHeader + PeFileHeader::SectionCount), 2u);  // no new section
  EXPECT_EQ(Get32(out, DirectoryField(PeDirectory::Resource, PeDirectory::Rva)), 0x2000u);
  EXPECT_EQ(out.substr(0x200, Code.size()), Code);  // other sections untouched

  std::vector<ResourceItem> items = Read(out);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(FindRcData(items, "OPT")->Data, std::string("HideWindow=1\0\0", 14));
  EXPECT_EQ(FindRcData(items, "CAB")->Data, "MSCF cabinet");
  EXPECT_EQ(ResourceKeyText(items[0].Type), "#3");  // the icon kept, with its language and code page
  EXPECT_EQ(items[0].Language, 0x409);
  EXPECT_EQ(items[0].CodePage, 1252u);
  EXPECT_EQ(items[0].Data, "ICON");
}

TEST(PeResources, MovesTheRelocationsBehindTheRebuiltSection) {
  // In both formats: PE32+ keeps its data directories 16 bytes further on.
  for (const ImageFormat& format : {Pe32, Pe32Plus}) {
    std::string stub =
        MakeImage({{".text", Code}, {".rsrc", HandMadeTree(0x2000)}, {".reloc", "relocations"}}, 0x200, format);
    for (bool exactRawSize : {false, true}) {
      SCOPED_TRACE(testing::Message() << format.Magic << " " << exactRawSize);
      if (exactRawSize) Put32(stub, SectionField(1, PeSection::RawSize, format), 0xB1);  // as the linker leaves it: not rounded up
      std::vector<ResourceItem> items = Read(stub);
      PutRcData(items, "CAB", std::string(0x1800, 'c'));  // grows past a page
      std::string out = Rebuild(stub, items);
      ASSERT_FALSE(out.empty());
      ASSERT_EQ(Get16(out, FileHeader + PeFileHeader::SectionCount), 3u);
      auto rsrc = [&](size_t field) { return Get32(out, SectionField(1, field, format)); };
      auto reloc = [&](size_t field) { return Get32(out, SectionField(2, field, format)); };
      auto directory = [&](uint32_t d, size_t field) { return Get32(out, DirectoryField(d, field, format)); };
      EXPECT_EQ(rsrc(PeSection::VirtualAddress), 0x2000u);
      EXPECT_GT(rsrc(PeSection::VirtualSize), 0x1800u);
      EXPECT_EQ(reloc(PeSection::VirtualAddress), 0x4000u);
      EXPECT_EQ(directory(PeDirectory::Resource, PeDirectory::Rva), 0x2000u);
      EXPECT_EQ(directory(PeDirectory::Resource, PeDirectory::Size), rsrc(PeSection::VirtualSize));
      // The relocation directory follows its section.
      EXPECT_EQ(directory(PeDirectory::BaseRelocation, PeDirectory::Rva), 0x4000u);
      EXPECT_EQ(directory(PeDirectory::BaseRelocation, PeDirectory::Size), 11u);
      EXPECT_EQ(reloc(PeSection::RawPointer), rsrc(PeSection::RawPointer) + rsrc(PeSection::RawSize));
      EXPECT_EQ(out.substr(reloc(PeSection::RawPointer), 11), "relocations");
      EXPECT_EQ(out.size(), reloc(PeSection::RawPointer) + reloc(PeSection::RawSize));
      EXPECT_EQ(Get32(out, Opt + PeOptional::SizeOfImage), 0x5000u);
      EXPECT_EQ(Read(out).size(), 3u);
      EXPECT_EQ(Rebuild(out, Read(out)), out);  // and again: the same layout
    }
  }
}

TEST(PeResources, AddsASectionWhenTheResourcesAreNotLast) {
  std::string stub = MakeImage({{".text", Code}, {".rsrc", HandMadeTree(0x2000)}, {".data2", "more data"}});
  std::string out = Rebuild(stub, Packaged(Read(stub)));
  ASSERT_FALSE(out.empty());
  ASSERT_EQ(Get16(out, FileHeader + PeFileHeader::SectionCount), 4u);
  int fresh = SectionAt(out, 0x4000);
  ASSERT_EQ(fresh, 3);
  auto header = [&](size_t field) { return Get32(out, SectionField(3, field)); };
  EXPECT_EQ(out.substr(SectionField(3, PeSection::Name), 6), std::string(".rsrc\0", 6));
  EXPECT_EQ(header(PeSection::RawPointer), stub.size());  // raw data behind the old end, aligned
  EXPECT_EQ(header(PeSection::RawPointer) + header(PeSection::RawSize), out.size());
  EXPECT_EQ(Get32(out, DirectoryField(PeDirectory::Resource, PeDirectory::Rva)), 0x4000u);
  EXPECT_EQ(Get32(out, DirectoryField(PeDirectory::Resource, PeDirectory::Size)), header(PeSection::VirtualSize));
  EXPECT_EQ(Get32(out, Opt + PeOptional::SizeOfImage), 0x4000u + ((header(PeSection::VirtualSize) + 0xFFF) & ~0xFFFu));
  EXPECT_EQ(out.substr(0x200, stub.size() - 0x200), stub.substr(0x200));  // old sections as they were
  EXPECT_EQ(Read(out).size(), 3u);
}

TEST(PeResources, KeepsTheDataOfASectionThatReachesIntoTheResources) {
  // Sections that overlap in the file: the resources rewritten in place would cut the other's data.
  std::string stub = MakeImage({{".text", Code}, {".rsrc", HandMadeTree(0x2000)}});
  Put32(stub, SectionField(0, PeSection::RawSize), uint32_t(stub.size() - 0x200));
  std::string out = Rebuild(stub, Packaged(Read(stub)));
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(Get16(out, FileHeader + PeFileHeader::SectionCount), 3u);
  EXPECT_EQ(out.substr(0x200, stub.size() - 0x200), stub.substr(0x200));
  EXPECT_EQ(Read(out).size(), 3u);
}

TEST(PeResources, AddsASectionToAProgramWithoutResources) {
  std::string stub = MakeImage({{".text", Code}});
  std::string out = Rebuild(stub, Packaged({}));
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(Get16(out, FileHeader + PeFileHeader::SectionCount), 2u);
  EXPECT_EQ(SectionAt(out, 0x2000), 1);
  std::vector<ResourceItem> items = Read(out);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(ResourceKeyText(items[0].Name), "CAB");  // names sorted, as the loader searches them
  EXPECT_EQ(ResourceKeyText(items[1].Name), "OPT");
}

TEST(PeResources, RebuildingAgainGivesTheSameBytes) {
  std::string stub = MakeImage({{".text", Code}, {".rsrc", HandMadeTree(0x2000)}, {".data2", "more data"}});
  std::string once = Rebuild(stub, Packaged(Read(stub)));
  std::string twice = Rebuild(once, Packaged(Read(once)));
  EXPECT_EQ(once, twice);
}

TEST(PeResources, TheChecksumIsTheImageChecksum) {
  // Also over data copied from a file, from an odd place and of an odd length, as data not held is.
  std::string file;
  for (uint32_t i = 0; i < 0x3000; ++i) file += char(i * 37 + (i >> 7));
  std::vector<ResourceItem> items = Packaged({});
  PutRcData(items, "ODD", "odd");
  PutRcData(items, "CAB", FileSpan{ImageFiles.Add(file), 3, 0x2003});
  std::string out = Rebuild(MakeImage({{".text", Code}}), items);
  std::vector<ResourceItem> back = Read(out);
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(FindRcData(back, "CAB")->Data, file.substr(3, 0x2003));
  EXPECT_GT(FindRcData(back, "CAB")->Place.Offset, FindRcData(back, "OPT")->Place.Offset);  // placed last
  uint64_t sum = 0;
  for (size_t i = 0; i < out.size(); i += 2) {
    if (i == Opt + PeOptional::CheckSum || i == Opt + PeOptional::CheckSum + 2) continue;
    sum += Get16(out, i);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  EXPECT_EQ(Get32(out, Opt + PeOptional::CheckSum), uint32_t(sum + out.size()));
}

TEST(PeResources, DropsASignature) {
  std::string stub = MakeImage({{".text", Code}});
  uint32_t at = uint32_t(stub.size());
  stub += std::string(0x100, 'S');
  Put32(stub, DirectoryField(PeDirectory::Security, PeDirectory::Rva), at);
  Put32(stub, DirectoryField(PeDirectory::Security, PeDirectory::Size), 0x100);
  std::string out = Rebuild(stub, Packaged({}));
  EXPECT_EQ(Get32(out, DirectoryField(PeDirectory::Security, PeDirectory::Rva)), 0u);
  EXPECT_EQ(Get32(out, DirectoryField(PeDirectory::Security, PeDirectory::Size)), 0u);
  EXPECT_EQ(out.find(std::string(0x100, 'S')), std::string::npos);
  EXPECT_EQ(Get32(out, SectionField(1, PeSection::RawPointer)), at);  // the new section takes the signature's place
}

TEST(PeResources, RefusesImagesItCannotChange) {
  std::string good = MakeImage({{".text", Code}});
  std::string pe64 = good;
  Put16(pe64, Opt + PeOptional::Magic, PeMagic32Plus);
  std::string cut = good.substr(0, 0x300);
  // Five section headers fill the 0x200 bytes of headers: no room for a sixth.
  std::string full = MakeImage({{".a", "1"}, {".b", "2"}, {".c", "3"}, {".d", "4"}, {".e", "5"}});
  std::string arm64 = MakeImage({{".text", Code}}, 0x200, {PeMachineArm64, PeMagic32Plus, Pe32Plus.OptionalSize, Pe32Plus.Directories});
  std::string pe32PlusCut = MakeImage({{".text", Code}}, 0x200, Pe32Plus).substr(0, 0x300);
  // A section said to reach past 4 GB: the new one went back to its start, over the code (found by fuzzing).
  std::string vast = good;
  Put32(vast, SectionField(0, PeSection::VirtualSize), 0xFFFFFFEB);
  const struct {
    std::string Bytes, Message;
  } cases[] = {
      {"", "not a Windows program (PE)"},
      {"MZ just text, nothing more to see here; a long enough file to pass the size check......", "not a Windows program"},
      {pe64, "not a valid x86 program (PE32)"},
      {arm64, "an ARM64 program: cabpack packs x86 (PE32) and x64 (PE32+) runners"},
      {cut, "cut short"},
      {pe32PlusCut, "cut short"},
      {full, "no room"},
      {vast, "its section table is damaged"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_TRUE(Rebuild(c.Bytes, Packaged({}), &error).empty());
    EXPECT_NE(error.find(c.Message), std::string::npos) << error;
  }
}

TEST(PeResources, RefusesADamagedTree) {
  // Each a change to the hand-made tree: its root at 0, the icons' directory at 0x20, RCDATA's at
  // 0x38 (one named entry), the languages at 0x50 and 0x68.
  const struct {
    const char* Fault;
    std::function<void(std::string& tree)> Change;
    std::string Message;
  } damages[] = {
      {"a directory beyond the section",
       [](std::string& t) { PutResourceEntry(t, 0, 0, PeResourceIcon, PeResourceHigh | 0x7000); }, "damaged"},
      {"a directory reached twice", [](std::string& t) { PutResourceEntry(t, 0, 1, PeResourceRcData, PeResourceHigh | 0x20); },
       "a directory is reached twice"},
      {"a directory that contains itself", [](std::string& t) { PutResourceEntry(t, 0x20, 0, 1, PeResourceHigh | 0x20); },
       "a directory is reached twice"},
      // The loader reads the first NamedEntries entries as names, whatever their flag says.
      {"a name among the numbers", [](std::string& t) { PutResourceDirectory(t, 0x38, 0, 1); }, "damaged"},
      {"a number among the names", [](std::string& t) { PutResourceDirectory(t, 0x20, 1, 0); }, "damaged"},
      {"a named language", [](std::string& t) {
         PutResourceDirectory(t, 0x68, 1, 0);
         PutResourceEntry(t, 0x68, 0, PeResourceHigh | 0xA0, 0x90);
       }, "damaged"},
      // The loader finds entries by a binary search.
      {"types out of order", [](std::string& t) {
         PutResourceEntry(t, 0, 0, PeResourceRcData, PeResourceHigh | 0x38);
         PutResourceEntry(t, 0, 1, PeResourceIcon, PeResourceHigh | 0x20);
       }, "out of order"},
      {"a type twice", [](std::string& t) { PutResourceEntry(t, 0, 0, PeResourceRcData, PeResourceHigh | 0x20); },
       "holds #10 and #10 in one directory"},
      // Bounds on what a tree may make cabpack hold.
      {"over 262144 entries", [](std::string& t) { t = WideResourceTree(0x2000, 1, 3, 1, 65535); }, "over 262144 entries"},
      {"over 64 MB of data", [](std::string& t) { t = WideResourceTree(0x2000, PeResourceRcData, 1, 1, 65, 0xFFFFF); },
       "over 64 MB"},
  };
  for (const auto& d : damages) {
    SCOPED_TRACE(d.Fault);
    std::string tree = HandMadeTree(0x2000);
    d.Change(tree);
    PeImage image;
    std::string error;
    std::vector<ResourceItem> items;
    ASSERT_TRUE(ReadPeImage(ImageFiles.Add(MakeImage({{".text", Code}, {".rsrc", tree}})), image, error));
    EXPECT_FALSE(ReadResources(image, items, error));
    EXPECT_NE(error.find(d.Message), std::string::npos) << error;
  }
}
