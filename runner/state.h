// The run's state: set during start-up and the run, read by every later step.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "format/package_options.h"
#include "format/protected_ids.h"
#include "sys/paths.h"

extern std::string LanguageId;
extern std::string LanguageName;
extern bool JapaneseMode;
extern std::string ProtectedStrings[ProtectedCount];
extern TPackageOptions PackageOptions;
extern bool ExtractOnlyMode;
extern std::string ChosenFolder;
extern std::string ExtractFolder;
// The extract folder (or the extract-only target) and every folder above it, held from their
// making or check until the clean-up; each says whether this run made it: anything else at its
// name may be another user's, or hold the user's own files.
extern std::vector<THeldFolder> ExtractChain;
extern std::string PayloadName;
extern std::string PayloadPath;
extern std::string LaunchArguments;
extern std::string ReportPath;
// Set by the quiet and log switches.
extern bool QuietMode;
extern std::string LogPath;
// What the process returns: set by every message shown (or not shown, in a quiet run), by a
// cancel and, when the package asks for it, by the payload.
extern uint32_t RunExitCode;

// The runner's arguments; entry 0 is its own full path.
extern std::vector<std::string> RunnerArguments;

inline const std::string& Protected(ProtectedId id) { return ProtectedStrings[id]; }
