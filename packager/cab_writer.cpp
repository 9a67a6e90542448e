// The cabinet is written front to back in one pass: header, folder and file table first with
// the two values only known at the end (cabinet size, block count) patched in afterwards.
#include "packager/cab_writer.h"

#include "format/byte_order.h"
#include "format/cabinet.h"
#include "packager/lzx_encoder.h"
#include "packager/package_host.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

constexpr uint16_t MaxReservedHeaderBytes = 60000;
constexpr size_t MaxNameBytes = 255;
// With the previous block as history, zlib level 9 makes MSZIP only 0.5-0.8% smaller than the
// default level 6 (DLLs, text) at three times the time.
constexpr int MszipLevel = 6;

// The format's data-block checksum: 32-bit little-endian words XORed, the tail bytes
// gathered with the first one highest.
uint32_t BlockChecksum(const unsigned char* data, size_t count, uint32_t sum) {
  for (size_t words = count / 4; words > 0; --words, data += 4)
    sum ^= Get32(data);
  uint32_t tail = 0;
  switch (count & 3) {
    case 3: tail |= uint32_t(*data++) << 16; [[fallthrough]];
    case 2: tail |= uint32_t(*data++) << 8; [[fallthrough]];
    case 1: tail |= *data; break;
    default: break;
  }
  return sum ^ tail;
}

// Reads the files' data one after the other as one stream, in pieces of at most a block.
class TDataStream {
 public:
  TDataStream(const std::vector<CabFile>& files, const std::vector<uint32_t>& sizes, std::vector<Sha256Digest>* digests)
      : Files(files), Sizes(sizes), Digests(digests) {}

  // Fills up to `want` bytes; returns false with `error` set when a source cannot be read.
  bool Read(unsigned char* buffer, uint32_t want, uint32_t& got, std::string& error) {
    got = 0;
    while (got < want && Index < Files.size()) {
      const CabFile& file = Files[Index];
      uint32_t left = Sizes[Index] - Offset;
      uint32_t take = std::min(left, want - got);
      if (take > 0) {
        if (file.SourcePath.empty()) {
          file.Data.copy(reinterpret_cast<char*>(buffer + got), take, Offset);
        } else {
          if (!Source.is_open()) Source.open(std::filesystem::u8path(file.SourcePath), std::ios::binary);
          if (!Source.read(reinterpret_cast<char*>(buffer + got), take)) {
            error = "Could not read \"" + file.SourcePath + "\", or it became shorter while being packed.";
            return false;
          }
        }
        if (Digests) Hash.Update(buffer + got, take);
        got += take;
        Offset += take;
      }
      if (Offset == Sizes[Index]) {
        if (Digests) {
          Digests->push_back(Hash.Final());
          Hash = Sha256();
        }
        Source.close();
        Source.clear();
        ++Index;
        Offset = 0;
      }
    }
    return true;
  }

  // The digests of the empty files after the last data.
  void FinishDigests() {
    for (; Digests && Index < Files.size(); ++Index) {
      Digests->push_back(Hash.Final());
      Hash = Sha256();
    }
  }

 private:
  const std::vector<CabFile>& Files;
  const std::vector<uint32_t>& Sizes;
  std::vector<Sha256Digest>* Digests;
  Sha256 Hash;
  size_t Index = 0;
  uint32_t Offset = 0;
  std::ifstream Source;
};

// Compresses one block as an MSZIP block: "CK" and a complete raw deflate stream. The previous
// block's data is the stream's history, as the format allows and every reader keeps it.
bool CompressBlock(z_stream& z, const unsigned char* history, uint32_t historyCount, const unsigned char* in,
                   uint32_t count, std::vector<unsigned char>& out, uint32_t& outCount) {
  if (deflateReset(&z) != Z_OK) return false;
  if (historyCount > 0 && deflateSetDictionary(&z, history, historyCount) != Z_OK) return false;
  out[0] = 'C';
  out[1] = 'K';
  z.next_in = const_cast<unsigned char*>(in);
  z.avail_in = count;
  z.next_out = out.data() + 2;
  z.avail_out = static_cast<uInt>(out.size() - 2);
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) return false;
  outCount = static_cast<uint32_t>(out.size() - z.avail_out);
  // Data that does not compress goes in as one stored deflate block: the final-block bit,
  // the length and its complement, then the bytes as they are.
  const uint32_t storedCount = 2 + 5 + count;
  if (outCount > storedCount) {
    const unsigned char stored[5] = {1, static_cast<unsigned char>(count), static_cast<unsigned char>(count >> 8),
                                     static_cast<unsigned char>(~count), static_cast<unsigned char>(~count >> 8)};
    std::copy(stored, stored + 5, out.begin() + 2);
    std::copy(in, in + count, out.begin() + 7);
    outCount = storedCount;
  }
  return true;
}

bool CheckInputs(const std::vector<CabFile>& files, const CabOptions& options, std::vector<uint32_t>& sizes,
                 std::string& error) {
  if (files.size() > 0xFFFF) {
    error = "A cabinet can hold at most 65535 files.";
    return false;
  }
  if (options.ReservedHeaderBytes > MaxReservedHeaderBytes) {
    error = "The reserved area of a cabinet header can be at most 60000 bytes.";
    return false;
  }
  if (options.Compression == CabCompression::Lzx &&
      (options.LzxWindowBits < CabLzxMinWindowBits || options.LzxWindowBits > CabLzxMaxWindowBits)) {
    error = "The LZX window must be 2^" + std::to_string(CabLzxMinWindowBits) + " to 2^" +
            std::to_string(CabLzxMaxWindowBits) + " bytes.";
    return false;
  }
  uint64_t total = 0;
  for (const CabFile& file : files) {
    if (file.Name.empty() || file.Name.size() > MaxNameBytes || file.Name.find('\0') != std::string::npos) {
      error = "The name \"" + file.Name + "\" cannot be stored: it must have 1 to 255 bytes and no zero byte.";
      return false;
    }
    uint64_t size = file.Data.size();
    if (!file.SourcePath.empty()) {
      std::ifstream source(std::filesystem::u8path(file.SourcePath), std::ios::binary | std::ios::ate);
      std::streamoff end = source ? static_cast<std::streamoff>(source.tellg()) : -1;
      if (end < 0) {
        error = "Could not open \"" + file.SourcePath + "\" for reading.";
        return false;
      }
      size = static_cast<uint64_t>(end);
    }
    total += size;
    if (total > CabFolderLimit) {
      error = "The files add up to more than the 2147450880 bytes a cabinet folder can hold.";
      return false;
    }
    sizes.push_back(static_cast<uint32_t>(size));
  }
  return true;
}

bool WriteAll(std::FILE* out, const void* data, size_t count) {
  return std::fwrite(data, 1, count, out) == count;
}

bool WriteCabinetFile(std::FILE* out, const std::vector<CabFile>& files, const std::vector<uint32_t>& sizes,
                      const CabOptions& options, std::string& error) {
  const bool reserve = options.ReservedHeaderBytes > 0;
  const uint32_t folderOffset = reserve ? CfHeader::SizeWithReserve + options.ReservedHeaderBytes : CfHeader::Size;
  const uint32_t filesOffset = folderOffset + CfFolder::Size;
  uint32_t dataOffset = filesOffset;
  for (const CabFile& file : files) dataOffset += CfFile::Name + static_cast<uint32_t>(file.Name.size()) + 1;

  // Header, folder and file table; the cabinet size and the block count follow at the end.
  std::string head(folderOffset, '\0');
  Set32(head, CfHeader::Signature, CabSignature);
  Set32(head, CfHeader::FilesOffset, filesOffset);
  head[CfHeader::VersionMinor] = 3;
  head[CfHeader::VersionMajor] = 1;
  Set16(head, CfHeader::FolderCount, 1);
  Set16(head, CfHeader::FileCount, static_cast<uint32_t>(files.size()));
  Set16(head, CfHeader::Flags, reserve ? CabFlagReservePresent : 0);
  if (reserve) Set16(head, CfHeader::ReservedHeaderBytes, options.ReservedHeaderBytes);
  uint16_t compression = CabCompressNone;
  if (options.Compression == CabCompression::Mszip) compression = CabCompressMszip;
  if (options.Compression == CabCompression::Lzx) compression = CabLzxCompression(options.LzxWindowBits);
  std::string folder(CfFolder::Size, '\0');
  Set32(folder, CfFolder::DataOffset, dataOffset);
  Set16(folder, CfFolder::Compression, compression);
  head += folder;
  uint32_t folderStart = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    std::string entry(CfFile::Name, '\0');  // in the first (only) folder
    Set32(entry, CfFile::Size, sizes[i]);
    Set32(entry, CfFile::FolderOffset, folderStart);
    Set16(entry, CfFile::Date, files[i].Date);
    Set16(entry, CfFile::Time, files[i].Time);
    Set16(entry, CfFile::Attributes, files[i].Attributes);
    head += entry + files[i].Name + '\0';
    folderStart += sizes[i];
  }
  if (!WriteAll(out, head.data(), head.size())) {
    error = "Could not write the cabinet.";
    return false;
  }

  z_stream z{};
  if (options.Compression == CabCompression::Mszip &&
      deflateInit2(&z, MszipLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    error = "Could not start the compressor.";
    return false;
  }
  std::unique_ptr<z_stream, int (*)(z_stream*)> compressor(
      options.Compression == CabCompression::Mszip ? &z : nullptr, deflateEnd);
  std::unique_ptr<TLzxEncoder> lzx(
      options.Compression == CabCompression::Lzx ? new TLzxEncoder(options.LzxWindowBits, options.LzxParsing) : nullptr);

  uint32_t blocks = 0;
  uint64_t cabinetSize = dataOffset;
  auto writeBlock = [&](const unsigned char* body, uint32_t bodySize, uint32_t uncompressed) {
    std::string blockHead(CfData::Size, '\0');
    Set16(blockHead, CfData::CompressedSize, bodySize);
    Set16(blockHead, CfData::UncompressedSize, uncompressed);
    const auto* summed = reinterpret_cast<const unsigned char*>(blockHead.data()) + CfData::CompressedSize;
    Set32(blockHead, CfData::Checksum,
          BlockChecksum(summed, CfData::Size - CfData::CompressedSize, BlockChecksum(body, bodySize, 0)));
    if (!WriteAll(out, blockHead.data(), blockHead.size()) || !WriteAll(out, body, bodySize)) {
      error = "Could not write the cabinet.";
      return false;
    }
    cabinetSize += CfData::Size + bodySize;
    ++blocks;
    return true;
  };

  std::vector<unsigned char> in(CabBlockSize), previous(CabBlockSize);
  uint32_t previousCount = 0;
  std::vector<unsigned char> packed(compressor ? 2 + deflateBound(&z, CabBlockSize) : 0);
  TDataStream stream(files, sizes, options.Digests);
  if (options.Digests) options.Digests->clear();
  for (uint64_t left = folderStart; left > 0;) {
    uint32_t got = 0;
    if (!stream.Read(in.data(), CabBlockSize, got, error)) return false;
    left -= got;
    if (lzx) {
      // The encoder may hold frames back to code several with one set of trees.
      lzx->AddFrame(in.data(), got);
      if (left == 0) lzx->Finish();
      uint32_t frameSize = 0;
      while (lzx->TakeFrame(packed, frameSize))
        if (!writeBlock(packed.data(), static_cast<uint32_t>(packed.size()), frameSize)) return false;
    } else {
      const unsigned char* body = in.data();
      uint32_t bodySize = got;
      if (compressor) {
        if (!CompressBlock(z, previous.data(), previousCount, in.data(), got, packed, bodySize) || bodySize > 0xFFFF) {
          error = "Could not compress the data.";
          return false;
        }
        body = packed.data();
      }
      if (!writeBlock(body, bodySize, got)) return false;
      in.swap(previous);
      previousCount = got;
    }
    if (options.Progress && !options.Progress(folderStart - left)) {
      error = "Stopped before the cabinet was complete.";
      return false;
    }
  }
  stream.FinishDigests();
  if (cabinetSize > 0xFFFFFFFF) {
    error = "The cabinet would be larger than 4 GB.";
    return false;
  }

  std::string size, count;
  Put32(size, static_cast<uint32_t>(cabinetSize));
  Put16(count, blocks);
  if (std::fseek(out, CfHeader::CabinetSize, SEEK_SET) != 0 || !WriteAll(out, size.data(), 4) ||
      std::fseek(out, static_cast<long>(folderOffset + CfFolder::BlockCount), SEEK_SET) != 0 ||
      !WriteAll(out, count.data(), 2)) {
    error = "Could not write the cabinet.";
    return false;
  }
  return true;
}

}  // namespace

bool WriteCabinet(const std::vector<CabFile>& files, const CabOptions& options, const std::string& outputPath,
                  std::string& error) {
  error.clear();
  std::vector<uint32_t> sizes;
  if (!CheckInputs(files, options, sizes, error)) return false;
  std::FILE* raw = OpenFileForWriting(std::filesystem::u8path(outputPath));
  if (!raw) {
    error = "Could not create \"" + outputPath + "\".";
    return false;
  }
  bool written = WriteCabinetFile(raw, files, sizes, options, error);
  if (std::fclose(raw) != 0 && written) {
    error = "Could not write the cabinet.";
    written = false;
  }
  std::error_code ignored;
  if (!written) std::filesystem::remove(std::filesystem::u8path(outputPath), ignored);
  return written;
}
