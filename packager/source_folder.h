// What goes into a package's cabinet: the files under the source folder, their stored names,
// times and attributes, and the file to run.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "packager/cab_writer.h"

struct SourceSettings {
  std::string Folder;       // every file under it goes in, named relative to it
  std::string RunPath;      // relative path of the file to flag, '/' or '\' separated
  int CodePage = 0;         // 0: names that are not ASCII go in as UTF-8, flagged so
  bool FixedTime = false;   // SOURCE_DATE_EPOCH: every file gets FixedSeconds (read as UTC)
  int64_t FixedSeconds = 0;
  std::string Output;       // the package being made: never packed, nor cabpack's staging files
  std::vector<std::string> OwnStaging;  // this run's staging files, left out without a word
  std::vector<std::string> Excludes;  // globs of files and folders to leave out
};

// What was found besides the files: the bytes they hold, what was left out, and what the user
// may not expect to go in or to happen.
struct SourceReport {
  uint64_t Bytes = 0;
  int Excluded = 0;                   // files and folders matched by an exclude glob
  std::vector<std::string> Skipped;   // sentences about the output and staging files left out
  std::vector<std::string> Packages;  // programs (.exe) carrying a cabinet: packages made earlier
  bool RunsGuiProgram = false;        // the file to run is a Windows GUI program
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
