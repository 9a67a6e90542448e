// cabpack's switches: the one table behind the command line, the package file and --help.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "format/cabinet.h"
#include "packager/cab_writer.h"
#include "packager/package_options.h"
#include "packager/version_resource.h"

// What the command line and the package file say; paths and texts in UTF-8.
struct Settings {
  std::string Source, Run, Cab, List, SaveCab, Stub, Output, Config, Icon, Arch, SignCommand;
  std::string SignFolder;  // where the signing command runs: its package file's folder, or "" for the current one
  VersionSettings Version;
  std::vector<OptionChoice> Choices;
  std::vector<std::string> Excludes;
  std::optional<std::string> Arguments, Title;
  CabCompression Compression = CabCompression::Mszip;
  unsigned LzxWindowBits = CabLzxMaxWindowBits;
  LzxParse LzxParsing = LzxParse::Lazy;
  int CodePage = 0;
  bool Quiet = false, Help = false, PrintVersion = false, ShowProgress = false, NoSign = false;
  bool ManPage = false, BashCompletion = false;  // print cabpack.1 or the bash completion script
  std::vector<std::string> Warnings;  // printed before the run, unless it is quiet
};

// A failure that ends the run: the message (without the "cabpack: " prefix) and the exit code.
struct Failure {
  std::string Message;
  int Code = 1;
};

extern const char* const Usage;
std::string HelpText();
// The manual page (roff) and the bash completion script, made from the same switch table.
std::string ManPageText();
std::string BashCompletionText();

// Reads the command line and the package file it names into `s`; a usage error has Code 2.
bool ParseArguments(const std::vector<std::string>& args, Settings& s, Failure& failure);
