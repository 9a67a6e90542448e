#include "runner/state.h"

// constinit: the objects are laid out at build time, so no start-up code constructs them. Not
// on the array: GCC 12 accepts it there but leaves the strings zero-filled.
constinit std::string LanguageId;
constinit std::string LanguageName;
bool JapaneseMode = false;
std::string ProtectedStrings[ProtectedCount];
constinit TPackageOptions PackageOptions;
bool ExtractOnlyMode = false;
constinit std::string ChosenFolder;
constinit std::string ExtractFolder;
constinit std::vector<THeldFolder> ExtractChain;
constinit std::string PayloadName;
constinit std::string PayloadPath;
constinit std::string LaunchArguments;
constinit std::string ReportPath;
bool QuietMode = false;
constinit std::string LogPath;
uint32_t RunExitCode = 0;
constinit std::vector<std::string> RunnerArguments;
