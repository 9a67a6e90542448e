// The cabinet writer checked against an independent reader: cabextract lists and extracts
// what it writes, byte for byte.
#include "packager/cab_writer.h"
#include "packager/lzx_encoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace {

class CabWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/cab_writer_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    Folder = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + Folder + "'").c_str()); }

  std::string Path(const std::string& name) const { return Folder + "/" + name; }

  static std::string Run(const std::string& command, int* status = nullptr) {
    std::string output;
    std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return output;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    int rc = pclose(pipe);
    if (status) *status = rc;
    return output;
  }

  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  static void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
  }

  // Extracts the cabinet with cabextract and with 7-Zip, two decoders written apart from each
  // other and from this one, each into a fresh folder, and checks every file's bytes.
  void ExpectCabextractGives(const std::string& cabinet, const std::vector<CabFile>& files) {
    std::string out = Path("out"), seven = Path("7z");
    for (const std::string& command : {"cabextract -q -d '" + out + "' '" + cabinet + "'",
                                       "7z x -y -bso0 -bsp0 -o'" + seven + "' '" + cabinet + "'"}) {
      std::string folder = command[0] == '7' ? seven : out;
      int status = -1;
      std::string log = Run("rm -rf '" + folder + "' && " + command, &status);
      ASSERT_EQ(status, 0) << command << "\n" << log;
      for (const CabFile& file : files) {
        std::string name = file.Name;
        for (char& c : name)
          if (c == '\\') c = '/';
        std::string expected = file.SourcePath.empty() ? file.Data : ReadFile(file.SourcePath);
        EXPECT_TRUE(ReadFile(folder + "/" + name) == expected) << command << ": " << name << " differs";
      }
    }
  }

  std::string Folder;
};

std::string RandomBytes(size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::string data(count, '\0');
  for (char& c : data) c = static_cast<char>(random());
  return data;
}

// Text that compresses well but is not trivial, longer than several blocks.
std::string Prose(size_t count) {
  std::string data;
  for (unsigned i = 0; data.size() < count; ++i) data += "line " + std::to_string(i * 7919 % 1000) + " of the payload\r\n";
  data.resize(count);
  return data;
}

struct CompressionCase {
  CabCompression Compression;
  uint16_t Reserved;
  unsigned LzxWindowBits = 21;
  LzxParse Parse = LzxParse::Lazy;
};

class CabWriterFormats : public CabWriterTest, public ::testing::WithParamInterface<CompressionCase> {};

TEST_P(CabWriterFormats, CabextractExtractsEveryFileByteForByte) {
  WriteFile(Path("big.bin"), RandomBytes(100000, 1));
  std::vector<CabFile> files(5);
  files[0].Name = "setup.exe";
  files[0].Data = Prose(70001);
  files[0].Attributes = 0x60;
  files[1].Name = "data\\empty.txt";
  files[2].Name = "data\\sub\\big.bin";
  files[2].SourcePath = Path("big.bin");
  files[3].Name = "one.txt";
  files[3].Data = "x";
  files[4].Name = "hidden.sys";
  files[4].Data = Prose(32768);
  files[4].Attributes = 0x07;
  CabOptions options;
  options.Compression = GetParam().Compression;
  options.ReservedHeaderBytes = GetParam().Reserved;
  options.LzxWindowBits = GetParam().LzxWindowBits;
  options.LzxParsing = GetParam().Parse;
  std::string error;
  ASSERT_TRUE(WriteCabinet(files, options, Path("a.cab"), error)) << error;
  EXPECT_TRUE(error.empty());

  int status = -1;
  std::string test = Run("cabextract -t '" + Path("a.cab") + "'", &status);
  EXPECT_EQ(status, 0) << test;  // checksums and sizes
  EXPECT_NE(test.find("All done, no errors."), std::string::npos) << test;
  ExpectCabextractGives(Path("a.cab"), files);
}

INSTANTIATE_TEST_SUITE_P(All, CabWriterFormats,
                         ::testing::Values(CompressionCase{CabCompression::None, 0},
                                           CompressionCase{CabCompression::Mszip, 0},
                                           CompressionCase{CabCompression::None, 20},
                                           CompressionCase{CabCompression::Mszip, 1},
                                           CompressionCase{CabCompression::Lzx, 0, 15},
                                           CompressionCase{CabCompression::Lzx, 1, 21},
                                           CompressionCase{CabCompression::Lzx, 0, 15, LzxParse::Optimal},
                                           CompressionCase{CabCompression::Lzx, 0, 21, LzxParse::Optimal}));

TEST_F(CabWriterTest, ListingShowsNamesSizesDatesAndTimes) {
  std::vector<CabFile> files(2);
  files[0].Name = "a.txt";
  files[0].Data = "hello";
  files[0].Date = (20 << 9) | (1 << 5) | 1;  // 2000-01-01
  files[0].Time = (12 << 11) | (0 << 5) | 0;  // 12:00:00
  files[1].Name = "dir\\b.txt";
  files[1].Data = std::string(1234, 'b');
  files[1].Date = (43 << 9) | (12 << 5) | 31;  // 2023-12-31
  files[1].Time = (23 << 11) | (59 << 5) | 29;  // 23:59:58
  std::string error;
  ASSERT_TRUE(WriteCabinet(files, CabOptions(), Path("l.cab"), error)) << error;
  std::string listing = Run("cabextract -l '" + Path("l.cab") + "'");
  EXPECT_NE(listing.find("5 | 01.01.2000 12:00:00 | a.txt"), std::string::npos) << listing;
  EXPECT_NE(listing.find("1234 | 31.12.2023 23:59:58 | dir/b.txt"), std::string::npos) << listing;
}

TEST_F(CabWriterTest, HeaderFieldsFollowTheFormat) {
  std::vector<CabFile> files(1);
  files[0].Name = "run.exe";
  files[0].Data = "MZ";
  files[0].Attributes = 0x40;
  CabOptions options;
  options.Compression = CabCompression::None;
  options.ReservedHeaderBytes = 6;
  std::string error;
  ASSERT_TRUE(WriteCabinet(files, options, Path("h.cab"), error)) << error;
  std::string cab = ReadFile(Path("h.cab"));
  auto u16 = [&](size_t at) { return unsigned(uint8_t(cab[at])) | unsigned(uint8_t(cab[at + 1])) << 8; };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  ASSERT_GE(cab.size(), 36u);
  EXPECT_EQ(cab.substr(0, 4), "MSCF");
  EXPECT_EQ(u32(8), cab.size());
  EXPECT_EQ(u16(26), 1u);      // folders
  EXPECT_EQ(u16(28), 1u);      // files
  EXPECT_EQ(u16(30), 4u);      // reserve present
  EXPECT_EQ(u16(36), 6u);      // reserved header bytes
  size_t folder = 36 + 4 + 6;
  EXPECT_EQ(u32(16), folder + 8);  // first file entry
  EXPECT_EQ(u16(folder + 4), 1u);  // one data block
  EXPECT_EQ(u16(folder + 6), 0u);  // stored
  EXPECT_EQ(u16(folder + 8 + 14), 0x40u);
  EXPECT_EQ(cab.substr(folder + 8 + 16, 8), std::string("run.exe\0", 8));
  EXPECT_EQ(cab.substr(cab.size() - 2), "MZ");
}

TEST_F(CabWriterTest, SameInputsGiveTheSameBytes) {
  std::vector<CabFile> files(2);
  files[0].Name = "a";
  files[0].Data = Prose(90000);
  files[1].Name = "b";
  files[1].Data = RandomBytes(40000, 7);
  std::string error;
  ASSERT_TRUE(WriteCabinet(files, CabOptions(), Path("1.cab"), error)) << error;
  ASSERT_TRUE(WriteCabinet(files, CabOptions(), Path("2.cab"), error)) << error;
  EXPECT_EQ(ReadFile(Path("1.cab")), ReadFile(Path("2.cab")));
  EXPECT_LT(ReadFile(Path("1.cab")).size(), 90000u + 40000u);  // the prose did compress
}

TEST_F(CabWriterTest, CorruptedBlockFailsTheChecksum) {
  std::vector<CabFile> files(1);
  files[0].Name = "a";
  files[0].Data = Prose(5000);
  CabOptions options;
  options.Compression = CabCompression::None;
  std::string error;
  ASSERT_TRUE(WriteCabinet(files, options, Path("c.cab"), error)) << error;
  std::string cab = ReadFile(Path("c.cab"));
  cab[cab.size() - 100] ^= 0x10;
  WriteFile(Path("c.cab"), cab);
  int status = 0;
  std::string log = Run("cabextract -t '" + Path("c.cab") + "'", &status);
  EXPECT_NE(status, 0) << log;
}

TEST_F(CabWriterTest, FailuresLeaveNoFileAndSaySo) {
  struct Case {
    const char* What;
    CabFile File;
    uint16_t Reserved;
    unsigned LzxWindowBits = 0;  // LZX with this window, or MSZIP for 0
  };
  CabFile missing;
  missing.Name = "a";
  missing.SourcePath = Path("does-not-exist");
  CabFile unnamed;
  CabFile longName;
  longName.Name = std::string(256, 'n');
  CabFile zeroInName;
  zeroInName.Name = std::string("a\0b", 3);
  CabFile fine;
  fine.Name = "ok";
  const Case cases[] = {{"missing source", missing, 0},
                        {"empty name", unnamed, 0},
                        {"name too long", longName, 0},
                        {"zero byte in name", zeroInName, 0},
                        {"reserved area too large", fine, 60001},
                        {"LZX window too small", fine, 0, 14},
                        {"LZX window too large", fine, 0, 22}};
  for (const Case& c : cases) {
    WriteFile(Path("old.cab"), "old");
    CabOptions options;
    options.ReservedHeaderBytes = c.Reserved;
    if (c.LzxWindowBits) {
      options.Compression = CabCompression::Lzx;
      options.LzxWindowBits = c.LzxWindowBits;
    }
    std::string error;
    EXPECT_FALSE(WriteCabinet({c.File}, options, Path("old.cab"), error)) << c.What;
    EXPECT_FALSE(error.empty()) << c.What;
    EXPECT_EQ(error.back(), '.') << c.What;
  }
  std::string error;
  EXPECT_FALSE(WriteCabinet({fine}, CabOptions(), Path("no-such-folder/x.cab"), error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(std::ifstream(Path("no-such-folder/x.cab")).good());
}

// Noise costs MSZIP only the block signature and one stored-block header per block.
TEST_F(CabWriterTest, DataThatDoesNotCompressIsStoredWhole) {
  std::vector<CabFile> files(1);
  files[0].Name = "noise.bin";
  files[0].Data = RandomBytes(3 * 32768 + 100, 7);
  CabOptions stored, zipped;
  stored.Compression = CabCompression::None;
  std::string error;
  ASSERT_TRUE(WriteCabinet(files, stored, Path("stored.cab"), error)) << error;
  ASSERT_TRUE(WriteCabinet(files, zipped, Path("zipped.cab"), error)) << error;
  EXPECT_EQ(ReadFile(Path("zipped.cab")).size(), ReadFile(Path("stored.cab")).size() + 4 * (2 + 5));
  ExpectCabextractGives(Path("zipped.cab"), files);
}

TEST_F(CabWriterTest, EmptyCabinetHasNoBlocks) {
  std::string error;
  ASSERT_TRUE(WriteCabinet({}, CabOptions(), Path("e.cab"), error)) << error;
  std::string cab = ReadFile(Path("e.cab"));
  EXPECT_EQ(cab.size(), 36u + 8u);
}

// The corners of the LZX format, each read back by cabextract: frames that end exactly on a
// file or on the folder's end, a short last frame, many tiny files, runs, noise (which must
// grow by no more than the uncompressed blocks' headers), and matches of the longest length
// at the farthest distance each window allows; with each parse.
TEST_F(CabWriterTest, LzxCornerCasesComeBackByteForByte) {
  // A piece of noise that comes again at the farthest distance the encoder uses, or fresh noise
  // instead; after a window of other noise, so that a decoder's ring buffer has wrapped by then.
  auto farthest = [](unsigned bits, bool again) {
    std::string piece = RandomBytes(300, bits);
    return RandomBytes(1u << bits, bits + 1) + piece + Prose(LzxMaxDistance(bits) - piece.size()) +
           (again ? piece : RandomBytes(300, 99)) + piece;
  };
  std::vector<CabFile> many;
  for (int i = 0; i < 1500; ++i) {
    CabFile file;
    file.Name = "small\\" + std::to_string(i) + ".h";
    file.Data = "#define VALUE_" + std::to_string(i) + " " + std::to_string(i * 37 % 101) + "\n";
    many.push_back(file);
  }
  const struct {
    const char* What;
    unsigned WindowBits;
    std::vector<std::string> Data;  // one file each
    std::vector<CabFile> Files;     // used when Data is empty
  } cases[] = {
      {"empty and one byte", 15, {"", "z"}, {}},
      {"exact frames", 16, {Prose(32768), Prose(2 * 32768)}, {}},
      {"short last frame", 17, {Prose(100001)}, {}},
      {"many small files", 21, {}, many},
      {"runs of one byte", 18, {std::string(300000, 'a'), std::string(70000, '\0') + "b"}, {}},
      {"noise", 21, {RandomBytes(5 * 32768 + 17, 3)}, {}},
      {"farthest 2^15", 15, {farthest(15, true)}, {}},
      {"farthest 2^17", 17, {farthest(17, true)}, {}},
      {"farthest 2^21", 21, {farthest(21, true)}, {}},
  };
  for (const auto& c : cases)
  for (LzxParse parse : {LzxParse::Lazy, LzxParse::Optimal}) {
    std::vector<CabFile> files = c.Files;
    for (size_t i = 0; i < c.Data.size(); ++i) {
      files.emplace_back();
      files.back().Name = "f" + std::to_string(i);
      files.back().Data = c.Data[i];
    }
    CabOptions lzx, stored;
    lzx.Compression = CabCompression::Lzx;
    lzx.LzxWindowBits = c.WindowBits;
    lzx.LzxParsing = parse;
    stored.Compression = CabCompression::None;
    std::string error;
    ASSERT_TRUE(WriteCabinet(files, lzx, Path("x.cab"), error)) << c.What << ": " << error;
    ASSERT_TRUE(WriteCabinet(files, stored, Path("s.cab"), error)) << c.What << ": " << error;
    SCOPED_TRACE(std::string(c.What) + (parse == LzxParse::Optimal ? ", optimal parse" : ", lazy parse"));
    ExpectCabextractGives(Path("x.cab"), files);
    const size_t lzxSize = ReadFile(Path("x.cab")).size(), storedSize = ReadFile(Path("s.cab")).size();
    const size_t frames = (storedSize + 32767) / 32768;
    EXPECT_LE(lzxSize, storedSize + 4 + 20 * frames);
    if (std::string(c.What).rfind("farthest", 0) == 0) {  // the piece that comes again costs next to nothing
      files[0].Data = farthest(c.WindowBits, false);
      ASSERT_TRUE(WriteCabinet(files, lzx, Path("y.cab"), error)) << error;
      EXPECT_LE(lzxSize + 250, ReadFile(Path("y.cab")).size());
    }
  }
}

// Real programs, at every window and with each parse: the eight first of Wine's 64-bit DLLs
// (advapi32.dll among them, where 7-Zip once read matches at the format's farthest distance
// wrongly).
TEST_F(CabWriterTest, WineDllsComeBackByteForByteAtEveryWindow) {
  const std::filesystem::path folder = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
  std::vector<std::string> names;
  std::error_code error;
  // Up to 2 MB each (advapi32.dll among them): enough distances and E8 calls, and quick.
  for (const auto& entry : std::filesystem::directory_iterator(folder, error))
    if (entry.path().extension() == ".dll" && entry.file_size() <= (2u << 20)) names.push_back(entry.path().filename());
  if (names.size() < 8) GTEST_SKIP() << "no Wine DLLs in " << folder;
  std::sort(names.begin(), names.end());
  std::vector<CabFile> files(8);
  for (size_t i = 0; i < files.size(); ++i) {
    files[i].Name = names[i];
    files[i].SourcePath = (folder / names[i]).string();
  }
  for (unsigned bits = CabLzxMinWindowBits; bits <= CabLzxMaxWindowBits; ++bits)
  for (LzxParse parse : {LzxParse::Lazy, LzxParse::Optimal}) {
    CabOptions options;
    options.Compression = CabCompression::Lzx;
    options.LzxWindowBits = bits;
    options.LzxParsing = parse;
    std::string message;
    ASSERT_TRUE(WriteCabinet(files, options, Path("w.cab"), message)) << message;
    SCOPED_TRACE("window 2^" + std::to_string(bits) + (parse == LzxParse::Optimal ? ", optimal parse" : ", lazy parse"));
    ExpectCabextractGives(Path("w.cab"), files);
  }
}

// Many small random inputs, window sizes and file splits from a fixed seed: copies from near
// and far, runs, x86 calls (E8 bytes) and noise, each read back by cabextract; LZX with the
// lazy and the optimal parse in turn.
TEST_F(CabWriterTest, RandomLzxAndMszipFoldersComeBackByteForByte) {
  std::mt19937 random(20261207);
  for (int round = 0; round < 24; ++round) {
    std::string data;
    const size_t size = random() % 400000;
    while (data.size() < size) {
      const size_t piece = 1 + random() % 5000;
      switch (random() % 5) {
        case 0: data += RandomBytes(piece, random()); break;
        case 1: data.append(piece, static_cast<char>(random())); break;
        case 2:
          for (size_t i = 0; i < piece / 5; ++i) data += '\xE8' + RandomBytes(4, random()).substr(0, random() % 5);
          break;
        default:
          if (!data.empty()) {
            const size_t from = random() % data.size();
            data += data.substr(from, std::min(piece, data.size() - from));
          }
      }
    }
    std::vector<CabFile> files(1 + random() % 6);
    size_t at = 0;
    for (size_t i = 0; i < files.size(); ++i) {
      const size_t take = i + 1 == files.size() ? data.size() - at : std::min(data.size() - at, size_t(random() % 120000));
      files[i].Name = "r" + std::to_string(i);
      files[i].Data = data.substr(at, take);
      at += take;
    }
    CabOptions options;
    options.Compression = round % 4 == 3 ? CabCompression::Mszip : CabCompression::Lzx;
    options.LzxWindowBits = 15 + random() % 7;
    options.LzxParsing = round % 2 ? LzxParse::Optimal : LzxParse::Lazy;
    std::string error;
    ASSERT_TRUE(WriteCabinet(files, options, Path("r.cab"), error)) << error;
    SCOPED_TRACE("round " + std::to_string(round) + ", window 2^" + std::to_string(options.LzxWindowBits));
    ExpectCabextractGives(Path("r.cab"), files);
  }
}

}  // namespace
