// Start-up configuration: language, protected strings, options and command line.
// Nothing here shows a message; whatever is missing or malformed keeps its default.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

void ChooseLanguage();
void DecodeProtectedStrings();
void ReadOptionList(const uint8_t* data, size_t size);
// The package's raw-data resource name, which stays mapped with the program; null when it is
// missing or empty.
const uint8_t* PackageResource(const char* name, unsigned long& size);
void ReadOptionResource();
// The arguments after the program's own name (in UTF-8, as the runner reads its wide command
// line), split by the runner's rules.
std::vector<std::string> SplitCommandLine(const char* commandLine);
// Whether the argument is the log switch with its path.
bool IsLogSwitch(const std::string& argument);
std::string OwnPath();
// Reads switches from RunnerArguments (entry 0 is the runner's own path).
void ReadCommandLine(const std::string& currentFolder);
// All of the above, in order, from the process itself.
void ConfigureRun();
