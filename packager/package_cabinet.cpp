#include "packager/package_cabinet.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "format/byte_order.h"
#include "format/cabinet.h"
#include "packager/package_host.h"
#include "packager/staged_output.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t RunnerSizeLimit = 0x80000000;  // the runner sums sizes in a signed 32-bit value
constexpr uint32_t LargestFileEntry = CfFile::Name + 256;  // fixed part and a name of up to 255 bytes with its NUL
constexpr uint32_t LargestTableStart = 32 << 20;  // header, reserved area and 65535 folders fit well below


std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  return s;
}

// The length of the well-formed UTF-8 character at `at` (its code point in `code`), or 0 for an
// ill-formed one: a stray byte, a cut sequence, an overlong form, a surrogate, beyond U+10FFFF.
size_t Utf8CharLength(const std::string& s, size_t at, uint32_t& code) {
  unsigned char c = s[at];
  size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
  if (length == 0 || at + length > s.size()) return 0;
  code = length == 1 ? c : c & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((s[at + k] & 0xC0) != 0x80) return 0;
    code = code << 6 | (s[at + k] & 0x3F);
  }
  static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  return code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) ? 0 : length;
}

// One path component as it will be stored, and whether it is stored in UTF-8; `shown` is the
// name in messages.
bool StoredComponent(const std::string& utf8, int codePage, const std::string& shown, std::string& stored,
                     bool& storedUtf8, std::string& error) {
  for (unsigned char c : utf8) {
    if (c < 0x20 || std::string("<>:\"\\|?*").find(char(c)) != std::string::npos) {
      error = "the file name \"" + shown + "\" holds a character that Windows file names cannot hold";
      return false;
    }
  }
  if (utf8.back() == '.' || utf8.back() == ' ') {
    error = "the file name \"" + shown + "\" ends in a dot or blank, which Windows drops";
    return false;
  }
  std::string device = Upper(utf8.substr(0, utf8.find('.')));
  if (device == "CON" || device == "PRN" || device == "AUX" || device == "NUL" ||
      (device.size() == 4 && (device.compare(0, 3, "COM") == 0 || device.compare(0, 3, "LPT") == 0) &&
       device[3] >= '1' && device[3] <= '9')) {
    error = "the file name \"" + shown + "\" is a device name on Windows";
    return false;
  }
  bool ascii = std::all_of(utf8.begin(), utf8.end(), [](unsigned char c) { return c < 0x7F; });
  if (ascii) {
    stored = utf8;
    return true;
  }
  // Without a code page the name goes in as UTF-8, flagged so: the runner spells it in the code page
  // of the system it runs on, or refuses it there.
  if (codePage == 0) {
    uint32_t code = 0;
    for (size_t at = 0, length = 1; at < utf8.size(); at += length) {
      if ((length = Utf8CharLength(utf8, at, code)) == 0) {
        error = "the file name \"" + shown + "\" is not UTF-8; name the code page it is in with --codepage N";
        return false;
      }
    }
    stored = utf8;
    storedUtf8 = true;
    return true;
  }
  if (!ConvertToCodePage(utf8, codePage, stored)) {
    error = "code page " + std::to_string(codePage) + " cannot hold the file name \"" + shown + "\"";
    return false;
  }
  // The runner splits paths byte by byte: a trail byte 0x5C would read as a folder separator.
  if (stored.find('\\') != std::string::npos) {
    error = "the file name \"" + shown + "\" in code page " + std::to_string(codePage) +
            " contains the byte of a backslash, which the runner would take for a folder separator";
    return false;
  }
  return true;
}

struct Collected {
  std::string Shown;  // relative path in UTF-8 with '\'
  CabFile File;
  uint64_t Size = 0;
};

bool CheckNameClashes(const std::vector<Collected>& files, std::string& error) {
  // Windows compares names without regard to case; two such files would land on one.
  std::set<std::string> names;
  for (const Collected& c : files) {
    if (!names.insert(Upper(c.File.Name)).second) {
      error = "\"" + c.Shown + "\" differs from another file's name only in case, which Windows cannot keep apart";
      return false;
    }
  }
  return true;
}

bool MatchHere(const char* glob, const char* text) {
  for (; *glob; ++glob, ++text) {
    if (*glob == '*') {
      for (const char* rest = text;; ++rest) {
        if (MatchHere(glob + 1, rest)) return true;
        if (*rest == '\0' || *rest == '/') return false;
      }
    }
    if (*text == '\0' || (*text == '/' && *glob != '/')) return false;
    char g = *glob >= 'A' && *glob <= 'Z' ? char(*glob + 32) : *glob;
    char t = *text >= 'A' && *text <= 'Z' ? char(*text + 32) : *text;
    if (*glob != '?' && g != t) return false;
  }
  return *text == '\0';
}

bool Excluded(const std::vector<std::string>& globs, const std::string& relative) {
  std::string name = relative.substr(relative.rfind('/') + 1);
  for (const std::string& glob : globs)
    if (MatchesGlob(glob, glob.find('/') == std::string::npos ? name : relative)) return true;
  return false;
}

// "<name>.cabpack-<hex digits>.tmp" or ".cab": a staging file of this or another cabpack run.
bool IsStagingName(const std::string& name) {
  size_t mark = name.rfind(StagingMark);
  if (mark == std::string::npos) return false;
  std::string tail = name.substr(mark + std::char_traits<char>::length(StagingMark));
  size_t dot = tail.find('.');
  return dot > 0 && dot != std::string::npos && (tail.substr(dot) == ".tmp" || tail.substr(dot) == ".cab") &&
         tail.find_first_not_of("0123456789abcdef") == dot;
}

}  // namespace

bool MatchesGlob(const std::string& glob, const std::string& path) { return MatchHere(glob.c_str(), path.c_str()); }

void DosDateTime(int64_t seconds, bool utc, uint16_t& date, uint16_t& time) {
  std::tm t{};
  if (!CalendarTime(seconds, utc, t) || t.tm_year < 80) {
    t = std::tm{};
    t.tm_year = 80;
    t.tm_mday = 1;
  } else if (t.tm_year > 207) {
    t = std::tm{};
    t.tm_year = 207, t.tm_mon = 11, t.tm_mday = 31, t.tm_hour = 23, t.tm_min = 59, t.tm_sec = 58;
  }
  date = uint16_t((t.tm_year - 80) << 9 | (t.tm_mon + 1) << 5 | t.tm_mday);
  time = uint16_t(t.tm_hour << 11 | t.tm_min << 5 | std::min(t.tm_sec, 59) / 2);
}

bool CollectSourceFiles(const SourceSettings& settings, std::vector<CabFile>& files, SourceReport& report,
                        std::string& error) {
  files.clear();
  report = SourceReport();
  std::error_code ec;
  const fs::path root = fs::u8path(settings.Folder), output = fs::u8path(settings.Output);
  if (!fs::is_directory(root, ec)) {
    error = "the source folder \"" + settings.Folder + "\" does not exist or is not a folder";
    return false;
  }
  std::string probe;
  if (settings.CodePage != 0 && !ConvertToCodePage("A", settings.CodePage, probe)) {
    error = "code page " + std::to_string(settings.CodePage) + " is not known on this system";
    return false;
  }

  std::vector<Collected> found;
  fs::recursive_directory_iterator it(root, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const fs::path& path = it->path();
    fs::path relative = path.lexically_relative(root);
    std::string shown, slashed;
    for (const fs::path& part : relative) {
      shown += (shown.empty() ? "" : "\\") + part.u8string();
      slashed += (slashed.empty() ? "" : "/") + part.u8string();
    }
    if (Excluded(settings.Excludes, slashed)) {
      ++report.Excluded;
      it.disable_recursion_pending();
      continue;
    }
    // Asked of the host: the C++ library on Windows does not tell links and junctions apart.
    if (IsLink(path)) {
      error = "\"" + shown + "\" is a link; links are not packed, so that nothing from outside the source folder "
              "slips in (copy the file in, or leave the link out with --exclude)";
      return false;
    }
    fs::file_status status = it->symlink_status(ec);
    if (ec) break;
    if (fs::is_directory(status)) continue;
    std::string name = path.filename().u8string();
    std::error_code same;
    if (name == output.filename().u8string() && fs::equivalent(path, output, same)) {
      report.Skipped.push_back("leaving out \"" + shown + "\": it is the output");
      continue;
    }
    if (IsStagingName(name)) {
      report.Skipped.push_back("leaving out \"" + shown + "\": it is a staging file of cabpack");
      continue;
    }
    if (!fs::is_regular_file(status)) {
      error = "\"" + shown + "\" is not a regular file";
      return false;
    }
    Collected c;
    c.Shown = shown;
    bool storedUtf8 = false;
    for (const fs::path& part : relative) {
      std::string stored;
      if (!StoredComponent(part.u8string(), settings.CodePage, shown, stored, storedUtf8, error)) return false;
      c.File.Name += (c.File.Name.empty() ? "" : "\\") + stored;
    }
    c.Size = fs::file_size(path, ec);
    std::ifstream readable(path, std::ios::binary);
    int64_t modified = 0;
    if (ec || !readable || !ReadFileFacts(path, modified, c.File.Attributes)) {
      error = "cannot read \"" + shown + "\" in the source folder";
      return false;
    }
    if (storedUtf8) c.File.Attributes |= CabAttributeNameIsUtf8;
    c.File.SourcePath = path.u8string();
    DosDateTime(settings.FixedTime ? settings.FixedSeconds : modified, settings.FixedTime, c.File.Date,
                c.File.Time);
    found.push_back(c);
  }
  if (ec) {
    error = "cannot read the source folder \"" + settings.Folder + "\": " + ec.message();
    return false;
  }
  if (found.empty()) {
    error = "the source folder \"" + settings.Folder + "\" holds no files: the cabinet would be empty";
    return false;
  }
  std::sort(found.begin(), found.end(), [](const Collected& a, const Collected& b) { return a.File.Name < b.File.Name; });
  if (!CheckNameClashes(found, error)) return false;

  uint64_t total = 0;
  for (const Collected& c : found) total += c.Size;
  report.Bytes = total;
  if (total >= RunnerSizeLimit) {
    error = "the files add up to " + std::to_string(total) +
            " bytes; the runner can only check a cabinet whose files add up to less than 2^31 bytes";
    return false;
  }
  if (total == 0) {
    error = "every file in the source folder is empty; the runner does not expand a cabinet without content";
    return false;
  }

  std::string run = settings.RunPath;
  std::replace(run.begin(), run.end(), '/', '\\');
  while (run.compare(0, 2, ".\\") == 0) run.erase(0, 2);
  // In any case, as with --cab and as Windows finds files; names differing only in case were refused above.
  auto flagged =
      std::find_if(found.begin(), found.end(), [&](const Collected& c) { return Upper(c.Shown) == Upper(run); });
  if (flagged == found.end()) {
    std::string slashed = run;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    error = "--run \"" + settings.RunPath + "\" " +
            (Excluded(settings.Excludes, slashed) ? "is left out by --exclude" : "is not a file under \"" + settings.Folder + "\"");
    return false;
  }
  flagged->File.Attributes |= CabAttributeRunAfterExtraction;
  for (Collected& c : found) files.push_back(std::move(c.File));
  return true;
}

std::string ShownName(const CabinetEntry& entry) {
  const std::string& name = entry.Name;
  std::string shown;
  for (size_t at = 0; at < name.size();) {
    uint32_t code = uint8_t(name[at]);
    size_t length = (entry.Attributes & CabAttributeNameIsUtf8) ? Utf8CharLength(name, at, code) : code < 0x80;
    // Control characters (C1 too) and the bidirectional overrides could make a name look like another.
    bool plain = length && code >= 0x20 && (code < 0x7F || code >= 0xA0) && !(code >= 0x202A && code <= 0x202E) &&
                 !(code >= 0x2066 && code <= 0x2069);
    if (plain) {
      shown.append(name, at, length);
      at += length;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "<%02X>", unsigned(uint8_t(name[at++])));
      shown += hex;
    }
  }
  return shown;
}

bool ReadCabinetTable(const std::string& b, CabinetTable& table, std::string& error) {
  table = CabinetTable();
  error = "the cabinet is damaged or not a cabinet";
  if (b.size() < CfHeader::Size || !LooksLikeCabinet(b)) return false;
  table.CabinetSize = Get32(b, CfHeader::CabinetSize);
  uint32_t filesAt = Get32(b, CfHeader::FilesOffset);
  uint32_t folders = Get16(b, CfHeader::FolderCount), count = Get16(b, CfHeader::FileCount);
  table.Flags = uint16_t(Get16(b, CfHeader::Flags));
  size_t at = CfHeader::Size, folderReserve = 0;
  if (table.Flags & CabFlagReservePresent) {
    if (b.size() < CfHeader::SizeWithReserve) return false;
    folderReserve = uint8_t(b[CfHeader::ReservedFolderBytes]);
    at = CfHeader::SizeWithReserve + Get16(b, CfHeader::ReservedHeaderBytes);
  }
  // Each neighbour in a set is named twice: the cabinet's file name and the disk's.
  const int setNames = ((table.Flags & CabFlagPreviousCabinet) ? 2 : 0) + ((table.Flags & CabFlagNextCabinet) ? 2 : 0);
  for (int name = 0; name < setNames; ++name) {
    size_t zero = b.find('\0', at);
    if (zero == std::string::npos) return false;
    at = zero + 1;
  }
  for (uint32_t i = 0; i < folders; ++i, at += CfFolder::Size + folderReserve) {
    if (at + CfFolder::Size > b.size()) return false;
    table.FolderCompression.push_back(uint16_t(Get16(b, at + CfFolder::Compression)));
  }
  at = filesAt;
  for (uint32_t i = 0; i < count; ++i) {
    if (at + CfFile::Name > b.size()) return false;
    size_t zero = b.find('\0', at + CfFile::Name);
    if (zero == std::string::npos) return false;
    CabinetEntry e;
    e.At = uint32_t(at);
    e.Size = Get32(b, at + CfFile::Size);
    e.Folder = uint16_t(Get16(b, at + CfFile::FolderIndex));
    e.Date = uint16_t(Get16(b, at + CfFile::Date));
    e.Time = uint16_t(Get16(b, at + CfFile::Time));
    e.Attributes = uint16_t(Get16(b, at + CfFile::Attributes));
    e.Name = b.substr(at + CfFile::Name, zero - at - CfFile::Name);
    table.Files.push_back(e);
    at = zero + 1;
  }
  error.clear();
  return true;
}

bool ReadCabinetTable(const FileSpan& cabinet, CabinetTable& table, std::string& error) {
  std::string head, part;
  if (!ReadSpan(cabinet, CfHeader::Size, head)) {
    error = "the cabinet cannot be read";
    return false;
  }
  if (head.size() < CfHeader::Size || Get32(head, CfHeader::FilesOffset) > LargestTableStart)
    return ReadCabinetTable(head, table, error);
  const uint64_t tableEnd =
      Get32(head, CfHeader::FilesOffset) + uint64_t(Get16(head, CfHeader::FileCount)) * LargestFileEntry;
  if (!ReadSpan(cabinet, tableEnd, part)) {
    error = "the cabinet cannot be read";
    return false;
  }
  return ReadCabinetTable(part, table, error);
}

bool LooksLikeCabinet(const std::string& start) { return start.size() >= 4 && Get32(start, CfHeader::Signature) == CabSignature; }

bool FlagFileToRun(const fs::path& cabinet, const std::string& run, std::string& error) {
  FileSpan span;
  CabinetTable table;
  if (!WholeFileSpan(cabinet, span) || !ReadCabinetTable(span, table, error)) return false;
  std::string wanted = Upper(run);
  std::replace(wanted.begin(), wanted.end(), '/', '\\');
  auto named = [&](const CabinetEntry& e) { return Upper(e.Name) == wanted; };
  if (std::none_of(table.Files.begin(), table.Files.end(), named)) {
    error = "--run \"" + run + "\" is not a file in the cabinet";
    return false;
  }
  std::fstream file(cabinet, std::ios::in | std::ios::out | std::ios::binary);
  for (const CabinetEntry& e : table.Files) {
    uint16_t flagged = named(e) ? e.Attributes | CabAttributeRunAfterExtraction : e.Attributes & ~CabAttributeRunAfterExtraction;
    std::string bytes(2, '\0');
    Set16(bytes, 0, flagged);
    if (flagged != e.Attributes) file.seekp(e.At + CfFile::Attributes).write(bytes.data(), 2);
  }
  file.close();
  if (!file) error = "cannot write the cabinet's file table";
  return bool(file);
}

bool CheckRunnable(const CabinetTable& table, std::string& error) {
  uint64_t total = 0;
  bool flagged = false;
  for (const CabinetEntry& e : table.Files) {
    total += e.Size;
    flagged = flagged || (e.Attributes & CabAttributeRunAfterExtraction);
  }
  if (table.Flags & (CabFlagPreviousCabinet | CabFlagNextCabinet))
    error = "the cabinet is part of a set; a package needs one self-contained cabinet";
  else if (table.Files.empty())
    error = "the cabinet holds no files";
  else if (total >= RunnerSizeLimit)
    error = "the cabinet's files add up to " + std::to_string(total) +
            " bytes; the runner can only check a cabinet whose files add up to less than 2^31 bytes";
  else if (total == 0)
    error = "every file in the cabinet is empty; the runner does not expand a cabinet without content";
  else if (!flagged)
    error = "no file in the cabinet is flagged to be run (attribute 0x40; --run NAME flags one)";
  else
    return true;
  return false;
}

std::string CompressionName(uint16_t typeCompress) {
  switch (typeCompress & CabCompressMask) {
    case CabCompressNone: return "none";
    case CabCompressMszip: return "MSZIP";
    case CabCompressQuantum: return "Quantum";
    case CabCompressLzx: return "LZX (window 2^" + std::to_string(CabLzxWindowBits(typeCompress)) + ")";
    default: return "unknown (" + std::to_string(typeCompress) + ")";
  }
}
