#include "packager/switches.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <map>
#include <sstream>

#include "format/cabinet.h"
#include "format/package_options.h"
#include "packager/package_file.h"
#include "packager/package_host.h"
#include "packager/signing.h"
#include "packager/switch_table.h"
#include "packager/text.h"

namespace fs = std::filesystem;

const char* const Usage =
    "usage: cabpack --source DIR --run RELPATH [SWITCH]... -o OUT.exe\n"
    "       cabpack build PACKAGE-FILE [SWITCH]...\n"
    "       cabpack --cab FILE.cab [--run NAME] [SWITCH]... -o OUT.exe\n"
    "       cabpack --list PACKAGE.exe|FILE.cab\n"
    "       cabpack --save-cab PACKAGE.exe|FILE.cab -o OUT.cab\n";

namespace {

// A title is the start of a caption in a narrow window: a product's name and version fit.
constexpr size_t MaxTitleCharacters = 64;

// The runner hands the payload its quoted path, "/Runner=<the package's path>", the fixed
// arguments and the package's own arguments, and Windows takes 32767 characters. The fixed
// arguments may take 30000 bytes: the rest holds two paths of up to 260 characters (MAX_PATH:
// the runner reads its own path so, and the payload's lies in the work folder) with their quotes
// and blanks, and about 2200 for the arguments the package is started with (/quiet /log=PATH and
// the like).
constexpr size_t MaxFixedArguments = 30000;

bool SetOption(Settings& s, const std::string& v, bool on, std::string& error) {
  int option = FindPackageOption(v);
  if (option < 0) {
    error = "unknown option \"" + v + "\"" +
            DidYouMean(v, PackageOptionNameList()) +
            " (cabpack --help lists the options)";
    return false;
  }
  s.Choices.push_back({option, on});
  return true;
}

// none, mszip, lzx[:BITS] or lzx-optimal[:BITS]: the LZX parse, then the window.
bool SetCompression(Settings& s, const std::string& v, std::string& error) {
  const std::string optimal = "lzx-optimal";
  const bool isOptimal = v.compare(0, optimal.size(), optimal) == 0;
  const std::string lzx = isOptimal ? "lzx" + v.substr(optimal.size()) : v;
  auto windowOf = [](const std::string& text) {
    if (text == "lzx") return CabLzxMaxWindowBits;
    bool digits = text.size() == 6 && text.compare(0, 4, "lzx:") == 0 && std::isdigit(uint8_t(text[4])) &&
                  std::isdigit(uint8_t(text[5]));
    unsigned bits = digits ? unsigned(std::stoi(text.substr(4))) : 0;
    return bits >= CabLzxMinWindowBits && bits <= CabLzxMaxWindowBits ? bits : 0u;
  };
  if (v == "none") {
    s.Compression = CabCompression::None;
  } else if (v == "mszip") {
    s.Compression = CabCompression::Mszip;
  } else if (unsigned bits = windowOf(lzx)) {
    s.Compression = CabCompression::Lzx;
    s.LzxWindowBits = bits;
    s.LzxParsing = isOptimal ? LzxParse::Optimal : LzxParse::Lazy;
  } else {
    const std::string from = std::to_string(CabLzxMinWindowBits), to = std::to_string(CabLzxMaxWindowBits);
    error = "none, mszip, lzx, lzx:" + from + " to lzx:" + to + ", lzx-optimal or lzx-optimal:" + from +
            " to lzx-optimal:" + to + ", not \"" + v + "\"";
    return false;
  }
  return true;
}

bool SetCodePage(Settings& s, const std::string& v, std::string& error) {
  char* end = nullptr;
  long n = std::strtol(v.c_str(), &end, 10);
  if (v.empty() || *end != '\0' || n <= 0 || n > 65535) {
    error = "a code page number such as 932 or 1252, not \"" + v + "\"";
    return false;
  }
  s.CodePage = int(n);
  return true;
}

bool SetArch(Settings&, const std::string& v, std::string& error) {
  RunnerArch arch;
  if (ParseArch(v, arch)) return true;
  error = "x86 or x64, not \"" + v + "\"";
  return false;
}

// Given on the command line, the command runs in the current folder; ReadConfig moves it into the
// package file's folder.
bool SetSignCommand(Settings& s, const std::string& v, std::string& error) {
  std::vector<std::string> words;
  s.SignFolder.clear();
  return SplitSignCommand(v, words, error);
}

// A text Windows shows in one line (a caption, Explorer's properties): UTF-8, its characters
// counted in `count`, without control characters, which would show as boxes.
bool CheckShownText(const std::string& v, size_t& count, std::string& error) {
  count = 0;
  uint32_t code = 0;
  for (size_t at = 0, length; at < v.size(); at += length, ++count) {
    if ((length = Utf8CharLength(v, at, code)) == 0) {
      error = "the text is not UTF-8, as cabpack takes every text";
      return false;
    }
    if (code < 0x20 || (code >= 0x7F && code < 0xA0)) {
      char shown[16];
      std::snprintf(shown, sizeof shown, "U+%04X", unsigned(code));
      error = std::string("the text holds the control character ") + shown + ", which Windows shows as a box";
      return false;
    }
  }
  return true;
}

// Sets one text of the version resource, checked here so that a package file's mistake is
// told with its line.
template <std::string VersionSettings::*Text>
bool SetVersionText(Settings& s, const std::string& v, std::string& error) {
  size_t count = 0;
  if (!CheckShownText(v, count, error)) return false;
  s.Version.*Text = v;
  return true;
}

template <std::string VersionSettings::*Number>
bool SetVersionNumber(Settings& s, const std::string& v, std::string& error) {
  if (!IsVersionNumber(v)) {
    error = "four numbers a.b.c.d from 0 to 65535, not \"" + v + "\"";
    return false;
  }
  s.Version.*Number = v;
  return true;
}

// The runner converts the title from UTF-8 for the window; other bytes would show as garbage.
bool SetTitle(Settings& s, const std::string& v, std::string& error) {
  size_t count = 0;
  if (!CheckShownText(v, count, error)) return false;
  if (count > MaxTitleCharacters) {
    error = std::to_string(count) + " characters; a title heads the progress window's caption and may have at most " +
            std::to_string(MaxTitleCharacters);
    return false;
  }
  s.Title = v;
  return true;
}

bool SetArguments(Settings& s, const std::string& v, std::string& error) {
  if (v.size() > MaxFixedArguments) {
    error = std::to_string(v.size()) + " bytes; at most " + std::to_string(MaxFixedArguments) +
            " fit a Windows command line (32767 characters) beside the payload's path, the /Runner= argument and "
            "the arguments the package is started with";
    return false;
  }
  s.Arguments = v;
  return true;
}

}  // namespace

extern const Switch Switches[] = {
    {"source", Takes::Path, "DIR", false, &Settings::Source, nullptr,
     "pack every file under DIR (named by its path relative to DIR; no links, no empty folders)"},
    {"run", Takes::Text, "RELPATH", false, &Settings::Run, nullptr,
     "the file to run after extraction: its path under DIR, or its name in the --cab cabinet, whose "
     "run flag is then set on it alone (/ or \\ between folders)"},
    {"exclude", Takes::Text, "GLOB", false, nullptr,
     [](Settings& s, const std::string& v, std::string&) { return s.Excludes.push_back(v), true; },
     "leave out the files and folders that match (repeatable; * and ? in any case; without / it "
     "matches names at any depth, with / paths from DIR)",
     true},
    {"on", Takes::Text, "OPTION", false, nullptr,
     [](Settings& s, const std::string& v, std::string& e) { return SetOption(s, v, true, e); },
     "switch OPTION on (repeatable; the last mention of an option wins)", true},
    {"off", Takes::Text, "OPTION", false, nullptr,
     [](Settings& s, const std::string& v, std::string& e) { return SetOption(s, v, false, e); },
     "switch OPTION off (repeatable)", true},
    {"arguments", Takes::Text, "TEXT", false, nullptr, SetArguments,
     "fixed arguments for the payload, handed on as written after the /Runner= argument (\"\" writes an "
     "empty entry; at most 30000 bytes, which leaves room on the command line for the paths and the "
     "package's own arguments)"},
    {"title", Takes::Text, "TEXT", false, nullptr, SetTitle,
     "what is being installed, shown before the progress window's captions (\"TEXT - Extracting....\"; at most "
     "64 characters, no control characters)"},
    {"compression", Takes::Text, "none|mszip|lzx[:15..21]|lzx-optimal[:15..21]", false, nullptr, SetCompression,
     "how the cabinet is compressed (default mszip; lzx is lzx:21, a 2^21-byte window; lzx-optimal "
     "parses for the smallest cabinet, in about twice lzx's time)"},
    {"codepage", Takes::Text, "N", false, nullptr, SetCodePage,
     "the target systems' ANSI code page (932, 1252, ...) for names that are not ASCII"},
    {"arch", Takes::Text, "x86|x64", false, &Settings::Arch, SetArch,
     "the runner's architecture: x86 (default; runs on 32-bit, x64 and ARM64 Windows) or x64 (for "
     "64-bit-only Windows: Windows PE x64, Server Core without 32-bit support); picks the stub for it"},
    {"stub", Takes::Path, "FILE", false, &Settings::Stub, nullptr,
     "the runner to pack into, x86 or x64, or a package (default: cabrun.exe, or cabrun-x64.exe for "
     "--arch x64, beside cabpack or in ../share/cabrun/)"},
    {"cab", Takes::Path, "FILE.cab", false, &Settings::Cab, nullptr,
     "embed this cabinet instead of packing a folder (unchanged but for --run)"},
    {"product-name", Takes::Text, "TEXT", false, nullptr, SetVersionText<&VersionSettings::ProductName>,
     "the product name the package's version resource shows (Explorer, SmartScreen, the UAC prompt)"},
    {"product-version", Takes::Text, "a.b.c.d", false, nullptr, SetVersionNumber<&VersionSettings::ProductVersion>,
     "the product version, four numbers of 0 to 65535 (also the file version when that is not given)"},
    {"file-version", Takes::Text, "a.b.c.d", false, nullptr, SetVersionNumber<&VersionSettings::FileVersion>,
     "the file version (also the product version when that is not given)"},
    {"company", Takes::Text, "TEXT", false, nullptr, SetVersionText<&VersionSettings::Company>,
     "the company name of the version resource"},
    {"copyright", Takes::Text, "TEXT", false, nullptr, SetVersionText<&VersionSettings::Copyright>,
     "the copyright text of the version resource"},
    {"description", Takes::Text, "TEXT", false, nullptr, SetVersionText<&VersionSettings::Description>,
     "the file description of the version resource (the UAC prompt's program name)"},
    {"original-filename", Takes::Text, "NAME", false, nullptr, SetVersionText<&VersionSettings::OriginalFilename>,
     "the original file name of the version resource"},
    {"icon", Takes::Path, "FILE.ico", false, &Settings::Icon, nullptr,
     "the package's icon: every image of the .ico replaces the runner's icon"},
    {"output", Takes::Path, "FILE", false, &Settings::Output, nullptr,
     "the package to write (also -o FILE); its folder must exist"},
    {"sign-command", Takes::Text, "COMMAND", false, &Settings::SignCommand, SetSignCommand,
     "sign the package as the last step with the signing tool COMMAND, run without a shell: {in} "
     "is the package to sign, {out} the signed file to write (without {out}, {in} is signed in "
     "place); for example 'osslsigncode sign -pkcs12 key.p12 -in {in} -out {out}'. From a package "
     "file it runs in the file's folder, like every path there"},
    {"no-sign", Takes::Nothing, nullptr, true, nullptr,
     [](Settings& s, const std::string&, std::string&) { return s.NoSign = true; },
     "do not sign: leaves out the package file's sign-command (for builds without the keys)"},
    {"config", Takes::Path, "FILE", true, &Settings::Config, nullptr,
     "read the switches from a package file first (as cabpack build FILE)"},
    {"list", Takes::Path, "FILE", true, &Settings::List, nullptr,
     "print a package's signature, resources, options, version texts, icon sizes and files, or a plain "
     "cabinet's files"},
    {"save-cab", Takes::Path, "FILE", true, &Settings::SaveCab, nullptr,
     "write a package's cabinet out unchanged (to -o FILE); a plain cabinet is copied"},
    {"quiet", Takes::Nothing, nullptr, true, nullptr,
     [](Settings& s, const std::string&, std::string&) { return s.Quiet = true; },
     "print nothing but errors (also -q)"},
    {"help", Takes::Nothing, nullptr, true, nullptr,
     [](Settings& s, const std::string&, std::string&) { return s.Help = true; }, "print this help (also -h)"},
    {"version", Takes::Nothing, nullptr, true, nullptr,
     [](Settings& s, const std::string&, std::string&) { return s.PrintVersion = true; }, "print cabpack's version"},
    {"man-page", Takes::Nothing, nullptr, true, nullptr,
     [](Settings& s, const std::string&, std::string&) { return s.ManPage = true; }, nullptr},
    {"bash-completion", Takes::Nothing, nullptr, true, nullptr,
     [](Settings& s, const std::string&, std::string&) { return s.BashCompletion = true; }, nullptr},
};
extern const size_t SwitchCount = sizeof Switches / sizeof *Switches;

extern const ShortSwitch ShortSwitches[] = {{"-o", "output"}, {"-q", "quiet"}, {"-h", "help"}};
extern const size_t ShortSwitchCount = sizeof ShortSwitches / sizeof *ShortSwitches;

namespace {

const Switch* FindSwitch(const std::string& name) {
  for (const Switch& sw : Switches)
    if (name == sw.Name) return &sw;
  return nullptr;
}

}  // namespace

std::vector<std::string> SwitchNames(const std::string& prefix, bool commandLine) {
  std::vector<std::string> names;
  for (const Switch& sw : Switches)
    if (sw.Help && (commandLine || !sw.CommandLineOnly)) names.push_back(prefix + sw.Name);
  return names;
}

std::string RepeatingNames() {
  std::vector<std::string> names;
  for (const Switch& sw : Switches)
    if (sw.Repeats) names.push_back(sw.Name);
  return Enumerated(names);
}

namespace {

// `shown` is how the switch was named: "--output" on the command line, "output" in a package file.
bool ApplySwitch(const Switch& sw, const std::string& shown, const std::string& value, Settings& s,
                 std::string& error) {
  if (sw.Value == Takes::Path && value.find('\\') != std::string::npos && !BackslashSeparatesFolders())
    s.Warnings.push_back(shown + " \"" + value + "\" holds a backslash, which is part of a name here, not a folder " +
                         "separator as on Windows: write / between folders (Windows takes it too)");
  if (sw.Field) s.*sw.Field = value;
  if (!sw.Apply || sw.Apply(s, value, error)) return true;
  error = shown + ": " + error;
  return false;
}

// One switch as given on the command line: what it is and its value.
struct Given {
  const Switch* Sw;
  std::string Value;
};

// Whether `arg` is one of cabpack's switches, as the value of another would never be meant.
bool IsSwitch(const std::string& arg) {
  for (const auto& s : ShortSwitches)
    if (arg == s.Short) return true;
  return arg.compare(0, 2, "--") == 0 && FindSwitch(arg.substr(2, arg.find('=') - 2));
}

bool ReadCommandLine(const std::vector<std::string>& args, std::vector<Given>& given, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i], name, value;
    bool hasValue = false;
    if (i == 0 && a == "build") {
      if (args.size() < 2) {
        error = "build needs the package file";
        return false;
      }
      given.push_back({FindSwitch("config"), args[++i]});
      continue;
    }
    for (const auto& s : ShortSwitches)
      if (a == s.Short) a = std::string("--") + s.Name;
    if (a.compare(0, 2, "--") != 0 || a.size() == 2) {
      error = a == "-" ? "\"-\" is no switch" : "unexpected argument \"" + a + "\" (switches start with --)";
      return false;
    }
    name = a.substr(2);
    size_t equals = name.find('=');
    if (equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.erase(equals);
      hasValue = true;
    }
    const Switch* sw = FindSwitch(name);
    if (!sw) {
      error = "unknown switch \"--" + name + "\"" + DidYouMean("--" + name, SwitchNames("--", true));
      return false;
    }
    if (sw->Value == Takes::Nothing && hasValue) {
      error = "--" + name + " takes no value";
      return false;
    }
    if (sw->Value != Takes::Nothing && !hasValue) {
      if (i + 1 >= args.size()) {
        error = "--" + name + " needs a value (" + sw->ValueName + ")";
        return false;
      }
      value = args[++i];
      if (IsSwitch(value)) {
        error = "--" + name + " needs a value (" + sw->ValueName + ") before \"" + value +
                "\", which is a switch of cabpack's; write --" + name + "=" + value + " if that is the value";
        return false;
      }
    }
    given.push_back({sw, value});
  }
  return true;
}

// A package file's paths are relative to its folder.
std::string Beside(const std::string& file, const std::string& path) {
  fs::path p = fs::u8path(path);
  return p.is_absolute() ? path : (fs::u8path(file).parent_path() / p).lexically_normal().u8string();
}

bool ReadConfig(const std::string& file, Settings& s, std::string& error) {
  std::error_code ec;
  if (fs::is_directory(fs::u8path(file), ec)) {
    error = "\"" + file + "\" is a folder, not a package file; to pack a folder give --source " + file +
            " --run FILE -o OUT.exe";
    return false;
  }
  std::map<std::string, int> firstLine;
  return ReadPackageFile(
      file,
      [&](int line, const std::string& name, const std::string& value, std::string& message) {
        const Switch* sw = FindSwitch(name);
        if (!sw) {
          message = "unknown name \"" + name + "\"" + DidYouMean(name, SwitchNames("", false));
          return false;
        }
        if (sw->CommandLineOnly) {
          message = "\"" + name + "\" goes on the command line only, not into a package file";
          return false;
        }
        // A second value would silently win: a merge or a copy gone wrong, never meant.
        int first = firstLine.insert({name, line}).first->second;
        if (!sw->Repeats && first != line) {
          message = "\"" + name + "\" is given on line " + std::to_string(first) + " already; only " + RepeatingNames() +
                    " may be given more than once";
          return false;
        }
        if (value.empty()) {
          message = "\"" + name + "\" needs a value";
          return false;
        }
        if (!ApplySwitch(*sw, name, value, s, message)) return false;
        if (sw->Field && sw->Value == Takes::Path) s.*sw->Field = Beside(file, value);
        if (sw->Field == &Settings::SignCommand) s.SignFolder = fs::u8path(file).parent_path().u8string();
        return true;
      },
      error);
}

}  // namespace

bool ParseArguments(const std::vector<std::string>& args, Settings& s, Failure& failure) {
  failure.Code = 2;
  std::vector<Given> given;
  if (!ReadCommandLine(args, given, failure.Message)) return false;
  for (const Given& g : given)
    if (g.Sw->Field == &Settings::Config) s.Config = g.Value;
  if (!s.Config.empty() && !ReadConfig(s.Config, s, failure.Message)) return false;
  bool signCommandGiven = false;
  for (const Given& g : given) {
    if (!ApplySwitch(*g.Sw, std::string("--") + g.Sw->Name, g.Value, s, failure.Message)) return false;
    signCommandGiven = signCommandGiven || g.Sw->Field == &Settings::SignCommand;
  }
  if (s.NoSign && signCommandGiven) {
    failure.Message = "--no-sign and --sign-command do not go together";
    return false;
  }
  if (s.NoSign) s.SignCommand.clear();
  if (s.Help || s.PrintVersion || s.ManPage || s.BashCompletion) return true;
  // What is missing is asked for where the user gives it: with a package file, in either place.
  auto ask = [&](const std::string& name, const std::string& value) {
    return s.Config.empty() ? "--" + name + " " + value
                            : name + " = " + value + " in the package file or --" + name + " " + value;
  };
  std::vector<std::string> modes;
  for (const auto& mode : {std::make_pair("--source", &s.Source), std::make_pair("--cab", &s.Cab),
                           std::make_pair("--list", &s.List), std::make_pair("--save-cab", &s.SaveCab)})
    if (!mode.second->empty()) modes.push_back(mode.first);
  if (modes.empty() && !s.Config.empty())
    failure.Message = "the package file \"" + s.Config + "\" names nothing to pack: give source = DIR with run = "
                      "RELPATH, or cab = FILE.cab";
  else if (modes.empty())
    failure.Message =
        "nothing to do: give --source DIR with --run RELPATH, --cab FILE.cab, --list FILE or --save-cab FILE";
  else if (modes.size() > 1)
    failure.Message = modes[0] + " and " + modes[1] + " do not go together: give one of --source, --cab, --list and "
                      "--save-cab";
  else if (!s.List.empty() && (!s.Output.empty() || !s.Stub.empty() || !s.Arch.empty() || !s.Choices.empty() || s.Arguments ||
                               s.Title))
    failure.Message = "--list takes only the package";
  else if (s.List.empty() && s.Output.empty())
    failure.Message = std::string("name the ") + (s.SaveCab.empty() ? "package" : "cabinet") + " to write: " +
                      (s.Config.empty() ? "-o FILE" : "output = FILE in the package file or -o FILE");
  else if (s.Output == "-")
    failure.Message = "cannot write a package to standard output (-o -); name the output file";
  else if (!s.Source.empty() && s.Run.empty())
    failure.Message = "name the file to run after extraction: " + ask("run", "RELPATH");
  else if (s.Source.empty() && (s.CodePage != 0 || !s.Excludes.empty()))
    failure.Message = "--codepage and --exclude go with --source";
  else if (!s.List.empty() + !s.SaveCab.empty() && (!s.Run.empty() || !s.Version.Empty() || !s.Icon.empty() ||
                                                    !s.SignCommand.empty()))
    failure.Message = "--run, the version texts, --icon and --sign-command go with --source or --cab";
  else if (!s.SaveCab.empty() && (!s.Stub.empty() || !s.Arch.empty() || !s.Choices.empty() || s.Arguments ||
                                 s.Title))
    failure.Message = "--save-cab takes only the package and -o";
  else
    return true;
  return false;
}
