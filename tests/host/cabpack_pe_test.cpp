// The resource-section rebuild on small hand-made PE32 and PE32+ images: a tree laid out by hand
// is read back, the rebuilt section replaces or follows the old one as it must, and the headers
// agree.
#include "packager/pe_resources.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "tests/host/cabpack_test_image.h"

namespace {

// A resource section at `rva` laid out by hand, data first and directories in an unusual order:
// icon #1 (language 0x409, code page 1252) and RCDATA "OPT".
std::string HandMadeTree(uint32_t rva) {
  std::string s;
  Put16(s, 0x0E, 2);                      // root: two id entries
  Put32(s, 0x10, 3), Put32(s, 0x14, 0x80000000 | 0x20);
  Put32(s, 0x18, 10), Put32(s, 0x1C, 0x80000000 | 0x38);
  Put16(s, 0x20 + 0x0E, 1);               // icons: id 1
  Put32(s, 0x30, 1), Put32(s, 0x34, 0x80000000 | 0x50);
  Put16(s, 0x38 + 0x0C, 1);               // RCDATA: one named entry
  Put32(s, 0x48, 0x80000000 | 0xA0), Put32(s, 0x4C, 0x80000000 | 0x68);
  Put16(s, 0x50 + 0x0E, 1);
  Put32(s, 0x60, 0x409), Put32(s, 0x64, 0x80);
  Put16(s, 0x68 + 0x0E, 1);
  Put32(s, 0x78, 0), Put32(s, 0x7C, 0x90);
  Put32(s, 0x80, rva + 0xA8), Put32(s, 0x84, 4), Put32(s, 0x88, 1252);
  Put32(s, 0x90, rva + 0xAC), Put32(s, 0x94, 5);
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
  for (uint32_t i = 0; i < Get16(b, Pe + 6); ++i)
    if (Get32(b, Table + 40 * i + 12) == rva) return int(i);
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
  EXPECT_EQ(Get16(out, Pe + 6), 2u);  // no new section
  EXPECT_EQ(Get32(out, Opt + 96 + 16), 0x2000u);
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
    uint32_t table = Opt + format.OptionalSize, directories = Opt + format.Directories;
    for (bool exactRawSize : {false, true}) {
      SCOPED_TRACE(testing::Message() << format.Magic << " " << exactRawSize);
      if (exactRawSize) Put32(stub, table + 40 + 16, 0xB1);  // as the linker leaves it: not rounded up
      std::vector<ResourceItem> items = Read(stub);
      PutRcData(items, "CAB", std::string(0x1800, 'c'));  // grows past a page
      std::string out = Rebuild(stub, items);
      ASSERT_FALSE(out.empty());
      ASSERT_EQ(Get16(out, Pe + 6), 3u);
      uint32_t rsrc = table + 40, reloc = table + 80;
      EXPECT_EQ(Get32(out, rsrc + 12), 0x2000u);
      EXPECT_GT(Get32(out, rsrc + 8), 0x1800u);
      EXPECT_EQ(Get32(out, reloc + 12), 0x4000u);
      EXPECT_EQ(Get32(out, directories + 16), 0x2000u);
      EXPECT_EQ(Get32(out, directories + 20), Get32(out, rsrc + 8));
      EXPECT_EQ(Get32(out, directories + 40), 0x4000u);  // the relocation directory follows its section
      EXPECT_EQ(Get32(out, directories + 44), 11u);
      EXPECT_EQ(Get32(out, reloc + 20), Get32(out, rsrc + 20) + Get32(out, rsrc + 16));
      EXPECT_EQ(out.substr(Get32(out, reloc + 20), 11), "relocations");
      EXPECT_EQ(out.size(), Get32(out, reloc + 20) + Get32(out, reloc + 16));
      EXPECT_EQ(Get32(out, Opt + 56), 0x5000u);
      EXPECT_EQ(Read(out).size(), 3u);
      EXPECT_EQ(Rebuild(out, Read(out)), out);  // and again: the same layout
    }
  }
}

TEST(PeResources, AddsASectionWhenTheResourcesAreNotLast) {
  std::string stub = MakeImage({{".text", Code}, {".rsrc", HandMadeTree(0x2000)}, {".data2", "more data"}});
  std::string out = Rebuild(stub, Packaged(Read(stub)));
  ASSERT_FALSE(out.empty());
  ASSERT_EQ(Get16(out, Pe + 6), 4u);
  int fresh = SectionAt(out, 0x4000);
  ASSERT_EQ(fresh, 3);
  uint32_t header = Table + 40 * 3;
  EXPECT_EQ(out.substr(header, 6), std::string(".rsrc\0", 6));
  EXPECT_EQ(Get32(out, header + 20), stub.size());  // raw data behind the old end, aligned
  EXPECT_EQ(Get32(out, header + 20) + Get32(out, header + 16), out.size());
  EXPECT_EQ(Get32(out, Opt + 96 + 16), 0x4000u);
  EXPECT_EQ(Get32(out, Opt + 96 + 20), Get32(out, header + 8));
  EXPECT_EQ(Get32(out, Opt + 56), 0x4000u + ((Get32(out, header + 8) + 0xFFF) & ~0xFFFu));
  EXPECT_EQ(out.substr(0x200, stub.size() - 0x200), stub.substr(0x200));  // old sections as they were
  EXPECT_EQ(Read(out).size(), 3u);
}

TEST(PeResources, AddsASectionToAProgramWithoutResources) {
  std::string stub = MakeImage({{".text", Code}});
  std::string out = Rebuild(stub, Packaged({}));
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(Get16(out, Pe + 6), 2u);
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
    if (i == Opt + 64 || i == Opt + 66) continue;
    sum += Get16(out, i);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  EXPECT_EQ(Get32(out, Opt + 64), uint32_t(sum + out.size()));
}

TEST(PeResources, DropsASignature) {
  std::string stub = MakeImage({{".text", Code}});
  uint32_t at = uint32_t(stub.size());
  stub += std::string(0x100, 'S');
  Put32(stub, Opt + 96 + 32, at);
  Put32(stub, Opt + 96 + 36, 0x100);
  std::string out = Rebuild(stub, Packaged({}));
  EXPECT_EQ(Get32(out, Opt + 96 + 32), 0u);
  EXPECT_EQ(Get32(out, Opt + 96 + 36), 0u);
  EXPECT_EQ(out.find(std::string(0x100, 'S')), std::string::npos);
  EXPECT_EQ(Get32(out, Table + 40 + 20), at);  // the new section takes the signature's place
}

TEST(PeResources, RefusesImagesItCannotChange) {
  std::string good = MakeImage({{".text", Code}});
  std::string pe64 = good;
  Put16(pe64, Opt, 0x20B);
  std::string cut = good.substr(0, 0x300);
  // Five section headers fill the 0x200 bytes of headers: no room for a sixth.
  std::string full = MakeImage({{".a", "1"}, {".b", "2"}, {".c", "3"}, {".d", "4"}, {".e", "5"}});
  std::string arm64 = MakeImage({{".text", Code}}, 0x200, {0xAA64, 0x20B, 240, 112});
  std::string pe32PlusCut = MakeImage({{".text", Code}}, 0x200, Pe32Plus).substr(0, 0x300);
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
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_TRUE(Rebuild(c.Bytes, Packaged({}), &error).empty());
    EXPECT_NE(error.find(c.Message), std::string::npos) << error;
  }
}

TEST(PeResources, RefusesADamagedTree) {
  std::string tree = HandMadeTree(0x2000);
  Put32(tree, 0x14, 0x80000000 | 0x7000);  // a directory beyond the section
  PeImage image;
  std::string error;
  std::vector<ResourceItem> items;
  ASSERT_TRUE(ReadPeImage(ImageFiles.Add(MakeImage({{".text", Code}, {".rsrc", tree}})), image, error));
  EXPECT_FALSE(ReadResources(image, items, error));
  EXPECT_NE(error.find("damaged"), std::string::npos);
}
