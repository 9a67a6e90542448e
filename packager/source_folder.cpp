#include "packager/source_folder.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "format/cabinet.h"
#include "format/package_resources.h"
#include "format/pe.h"
#include "packager/cabinet_table.h"
#include "packager/file_span.h"
#include "packager/package_host.h"
#include "packager/pe_image.h"
#include "packager/resource_tree.h"
#include "packager/staged_output.h"
#include "packager/text.h"

namespace fs = std::filesystem;

namespace {

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

// For a --run that names no file: the file meant, when one is near enough or has its name in
// another folder, else what the folder holds.
std::string WhatIsThere(const std::vector<Collected>& found, const std::string& run) {
  constexpr size_t MaxListed = 8;
  std::vector<std::string> names;
  for (const Collected& c : found) names.push_back(c.Shown);
  std::string nearest = DidYouMean(run, names);
  if (!nearest.empty()) return nearest;
  auto lastName = [](const std::string& path) { return Upper(path.substr(path.rfind('\\') + 1)); };
  for (const std::string& name : names)
    if (lastName(name) == lastName(run)) return "; did you mean " + name + "?";
  if (names.size() <= MaxListed) return "; it holds " + Enumerated(names);
  std::string more = std::to_string(names.size() - MaxListed) + " more";
  names.resize(MaxListed);
  names.push_back(more);
  return "; it holds " + Enumerated(names);
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

// A program carrying a cabinet: a package that cabpack made.
bool IsPackage(const fs::path& file) {
  PeImage image;
  std::vector<ResourceItem> items;
  std::string error;
  return ReadPeImage(file, image, error) && ReadResources(image, items, error) && FindRcData(items, CabinetResource);
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
      // This run's own staging files go without a word; another run's were left by an interruption.
      bool own = std::any_of(settings.OwnStaging.begin(), settings.OwnStaging.end(), [&](const std::string& staging) {
        std::error_code same;
        return fs::equivalent(path, fs::u8path(staging), same);
      });
      if (!own) report.Skipped.push_back("leaving out \"" + shown + "\": it is a staging file of cabpack");
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
      error = "cannot read \"" + shown + "\" in the source folder: " + UnreadableReason(path);
      return false;
    }
    if (storedUtf8) c.File.Attributes |= CabAttributeNameIsUtf8;
    bool program = name.size() > 4 && Upper(name.substr(name.size() - 4)) == ".EXE";
    if (program && IsPackage(path)) report.Packages.push_back(shown);
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
            (Excluded(settings.Excludes, slashed)
                 ? "is left out by --exclude"
                 : "is not a file under \"" + settings.Folder + "\"" + WhatIsThere(found, run));
    return false;
  }
  flagged->File.Attributes |= CabAttributeRunAfterExtraction;
  report.RunsGuiProgram = ProgramSubsystem(fs::u8path(flagged->File.SourcePath)) == PeSubsystemGui;
  for (Collected& c : found) files.push_back(std::move(c.File));
  return true;
}
