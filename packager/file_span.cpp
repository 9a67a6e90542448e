#include "packager/file_span.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fstream>
#include <system_error>
#include <vector>

namespace {

constexpr size_t PieceSize = 1 << 20;

bool OpenAt(const FileSpan& span, std::ifstream& in) {
  in.open(span.File, std::ios::binary);
  return in && in.seekg(std::streamoff(span.Offset));
}

}  // namespace

bool WholeFileSpan(const std::filesystem::path& file, FileSpan& span) {
  std::error_code ec;
  span = FileSpan();
  span.File = file;
  span.Size = std::filesystem::file_size(file, ec);
  return !ec && std::ifstream(file, std::ios::binary).is_open();
}

std::string UnreadableReason(const std::filesystem::path& file) {
  std::error_code ec;
  std::filesystem::file_status status = std::filesystem::status(file, ec);
  if (status.type() == std::filesystem::file_type::not_found) return "no such file";
  if (ec) return ec.message();
  if (std::filesystem::is_directory(status)) return "it is a folder, not a file";
  if (!std::filesystem::is_regular_file(status)) return "it is not a plain file";
  // The system's own reason, as the C library leaves it when opening fails.
  errno = 0;
  if (std::ifstream(file, std::ios::binary).is_open() || errno == 0) return "it cannot be opened";
  std::string reason = std::generic_category().message(errno);
  if (!reason.empty()) reason[0] = char(std::tolower(static_cast<unsigned char>(reason[0])));
  return reason;
}

bool ReadSpan(const FileSpan& span, uint64_t count, std::string& bytes) {
  std::ifstream in;
  bytes.assign(size_t(std::min(count, span.Size)), '\0');
  return OpenAt(span, in) && in.read(&bytes[0], std::streamsize(bytes.size()));
}

bool CopySpan(const FileSpan& span, std::ostream& out, const PieceObserver& seen) {
  std::ifstream in;
  if (span.Size == 0) return true;
  if (!OpenAt(span, in)) return false;
  std::vector<char> piece(size_t(std::min<uint64_t>(span.Size, PieceSize)));
  for (uint64_t left = span.Size; left > 0;) {
    size_t take = size_t(std::min<uint64_t>(left, piece.size()));
    if (!in.read(piece.data(), std::streamsize(take))) return false;
    if (seen) seen(piece.data(), take);
    if (!out.write(piece.data(), std::streamsize(take))) return false;
    left -= take;
  }
  return true;
}
