#include "runner/state.h"

std::string LanguageId;
std::string LanguageName;
bool JapaneseMode = false;
std::string ProtectedStrings[ProtectedCount];
TPackageOptions PackageOptions;
bool ExtractOnlyMode = false;
std::string ChosenFolder;
std::string CabinetTempFile;
std::string ExtractFolder;
bool ExtractFolderMade = false;
std::string PayloadName;
std::string PayloadPath;
std::string LaunchArguments;
std::string ReportPath;
bool QuietMode = false;
std::string LogPath;
uint32_t RunExitCode = 0;
std::vector<std::string> RunnerArguments;
