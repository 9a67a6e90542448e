// What goes into a package's cabinet, and what a cabinet's file table says.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "format/cabinet.h"
#include "packager/cab_writer.h"
#include "packager/file_span.h"


struct SourceSettings {
  std::string Folder;       // every file under it goes in, named relative to it
  std::string RunPath;      // relative path of the file to flag, '/' or '\' separated
  int CodePage = 0;         // 0: names that are not ASCII go in as UTF-8, flagged so
  bool FixedTime = false;   // SOURCE_DATE_EPOCH: every file gets FixedSeconds (read as UTC)
  int64_t FixedSeconds = 0;
  std::string Output;       // the package being made: never packed, nor cabpack's staging files
  std::vector<std::string> Excludes;  // globs of files and folders to leave out
};

// What was found besides the files: the bytes they hold, and what was left out.
struct SourceReport {
  uint64_t Bytes = 0;
  int Excluded = 0;                  // files and folders matched by an exclude glob
  std::vector<std::string> Skipped;  // sentences about the output and staging files left out
};

// The cabinet's files in a fixed order (by stored name), with times, attributes and the run flag.
// Links are refused: a package holds only what is really in the folder.
bool CollectSourceFiles(const SourceSettings& settings, std::vector<CabFile>& files, SourceReport& report,
                        std::string& error);

// Whether `path` ('/'-separated, relative) matches `glob`: '*' is any run of characters and '?'
// one character, neither crossing a '/'; letters match in any case. A glob without '/' is matched
// against the last name only, so "*.bak" and ".git" match at any depth.
bool MatchesGlob(const std::string& glob, const std::string& path);

// MS-DOS date and time of `seconds`, local or UTC; clamped to 1980..2107.
void DosDateTime(int64_t seconds, bool utc, uint16_t& date, uint16_t& time);

struct CabinetEntry {
  uint32_t At = 0;  // where its entry starts in the cabinet
  std::string Name;
  uint32_t Size = 0;
  uint16_t Folder = 0, Date = 0, Time = 0, Attributes = 0;
};

// The stored name as --list shows it, in UTF-8: text as it is (all of a name flagged as UTF-8, the
// ASCII of any other); every other byte (of a code page not recorded, or ill-formed UTF-8) and
// the bytes of control characters and bidirectional overrides as <XX>, which no Windows name holds.
std::string ShownName(const CabinetEntry& entry);

struct CabinetTable {
  uint32_t CabinetSize = 0;
  uint16_t Flags = 0;
  std::vector<uint16_t> FolderCompression;  // the typeCompress field of each folder
  std::vector<CabinetEntry> Files;
};

// Reads the header, folders and file table of a cabinet held in memory, or from a file (where
// only the part up to the end of the file table is read).
bool ReadCabinetTable(const std::string& cabinet, CabinetTable& table, std::string& error);
bool ReadCabinetTable(const FileSpan& cabinet, CabinetTable& table, std::string& error);

// Whether the bytes start like a cabinet (rather than a program).
bool LooksLikeCabinet(const std::string& start);

// Flags the file named `run` ('/' or '\\', any case) in the cabinet file to be run, and no other.
// The file table carries no checksum: the cabinet stays valid.
bool FlagFileToRun(const std::filesystem::path& cabinet, const std::string& run, std::string& error);

// Whether the runner can run the cabinet: one cabinet, not a set, with content below 2^31
// bytes and a file flagged to be run.
bool CheckRunnable(const CabinetTable& table, std::string& error);

std::string CompressionName(uint16_t typeCompress);
