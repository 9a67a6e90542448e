// Bytes of a file that are copied rather than held in memory: a package's cabinet, the staged
// cabinet, the part of a stub that is kept. Copying goes in small pieces, so memory stays bounded.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

struct FileSpan {
  std::filesystem::path File;
  uint64_t Offset = 0;
  uint64_t Size = 0;
};

// The whole of `file` as a span; false when it cannot be read.
bool WholeFileSpan(const std::filesystem::path& file, FileSpan& span);

// Why `file` cannot be read, for a message after "cannot read ...: ": it does not exist, it is a
// folder, or what the system says.
std::string UnreadableReason(const std::filesystem::path& file);

// Up to `count` bytes from the start of `span` (fewer only when the span is shorter).
bool ReadSpan(const FileSpan& span, uint64_t count, std::string& bytes);

// Writes the span to `out` in pieces, each handed to `seen` first (for a checksum) when given.
using PieceObserver = std::function<void(const char* data, size_t count)>;
bool CopySpan(const FileSpan& span, std::ostream& out, const PieceObserver& seen = nullptr);
