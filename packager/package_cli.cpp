#include "packager/package_cli.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <optional>
#include <random>
#include <sstream>

#include "runner/options.h"
#include "packager/icon_resource.h"
#include "packager/package_cabinet.h"
#include "packager/package_file.h"
#include "packager/package_host.h"
#include "packager/package_options.h"
#include "packager/pe_resources.h"
#include "packager/version_resource.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t MaxIconFile = 16 << 20;

const char* const Usage =
    "usage: cabpack --source DIR --run RELPATH [SWITCH]... -o OUT.exe\n"
    "       cabpack build PACKAGE-FILE [SWITCH]...\n"
    "       cabpack --cab FILE.cab [--run NAME] [SWITCH]... -o OUT.exe\n"
    "       cabpack --list PACKAGE.exe|FILE.cab\n"
    "       cabpack --save-cab PACKAGE.exe|FILE.cab -o OUT.cab\n";

// What the command line and the package file say; paths and texts in UTF-8.
struct Settings {
  std::string Source, Run, Cab, List, SaveCab, Stub, Output, Config, Icon, Arch;
  VersionSettings Version;
  std::vector<OptionChoice> Choices;
  std::vector<std::string> Excludes;
  std::optional<std::string> Arguments;
  CabCompression Compression = CabCompression::Mszip;
  unsigned LzxWindowBits = 21;
  int CodePage = 0;
  bool Quiet = false, Help = false, PrintVersion = false, ShowProgress = false;
};

// A failure that ends the run: the message (without the "cabpack: " prefix) and the exit code.
struct Failure {
  std::string Message;
  int Code = 1;
};

// A file that is removed when it goes out of scope, or the run is interrupted, unless Keep()
// was called.
class TTempFile {
 public:
  explicit TTempFile(const fs::path& beside, const std::string& suffix) {
    std::random_device random;
    std::ostringstream name;
    name << beside.filename().u8string() << StagingMark << std::hex << random() << suffix;
    Path = beside.parent_path() / fs::u8path(name.str());
    RemoveWhenInterrupted(Path);
  }
  ~TTempFile() {
    std::error_code ec;
    if (!Kept) fs::remove(Path, ec);
    ForgetWhenInterrupted(Path);
  }
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;
  void Keep() {
    Kept = true;
    ForgetWhenInterrupted(Path);
  }
  fs::path Path;

 private:
  bool Kept = false;
};

// The output is staged in a temporary file beside it and renamed into place at the end, so a
// failure never leaves half a file. Creating it first finds an unwritable output before any work.
class TStagedOutput {
 public:
  explicit TStagedOutput(const std::string& output) : Output(output), Temp(fs::u8path(output), ".tmp") {}

  bool Create(std::string& error) {
    fs::path folder = fs::u8path(Output).parent_path();
    std::error_code ec;
    if (!folder.empty() && !fs::is_directory(folder, ec)) {
      error = "the folder \"" + folder.u8string() + "\" does not exist (for \"" + Output + "\")";
      return false;
    }
    File.open(Temp.Path, std::ios::binary | std::ios::trunc);
    if (!File) error = "cannot write \"" + Output + "\"";
    return bool(File);
  }

  std::ostream& Stream() { return File; }

  bool Commit(std::string& error) {
    File.close();
    std::error_code ec;
    if (File) fs::rename(Temp.Path, fs::u8path(Output), ec);
    if (!File || ec) {
      error = "cannot write \"" + Output + "\"" + (ec ? ": " + ec.message() : std::string());
      return false;
    }
    Temp.Keep();
    return true;
  }

 private:
  std::string Output;
  TTempFile Temp;
  std::ofstream File;
};

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (fs::equivalent(a, b, ec)) return true;
  return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec) && !ec;
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  return text;
}

// Levenshtein distance, ignoring case: how far a mistyped name is from a known one.
size_t EditDistance(const std::string& a, const std::string& b) {
  std::string x = Lower(a), y = Lower(b);
  std::vector<size_t> row(y.size() + 1);
  for (size_t j = 0; j <= y.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= x.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= y.size(); ++j) {
      size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[y.size()];
}

// "; did you mean X?" for the known name nearest to `word`, when one is near enough.
std::string DidYouMean(const std::string& word, const std::vector<std::string>& names) {
  std::string best;
  size_t bestDistance = std::max<size_t>(2, word.size() / 4) + 1;
  for (const std::string& name : names) {
    size_t d = EditDistance(word, name);
    if (d < bestDistance) best = name, bestDistance = d;
  }
  return best.empty() ? std::string() : "; did you mean " + best + "?";
}

bool SetOption(Settings& s, const std::string& v, bool on, std::string& error) {
  int option = FindPackageOption(v);
  if (option < 0) {
    error = "unknown option \"" + v + "\"" +
            DidYouMean(v, std::vector<std::string>(std::begin(PackageOptionNames), std::end(PackageOptionNames))) +
            " (cabpack --help lists the options)";
    return false;
  }
  s.Choices.push_back({option, on});
  return true;
}

bool SetCompression(Settings& s, const std::string& v, std::string& error) {
  if (v == "none") {
    s.Compression = CabCompression::None;
  } else if (v == "mszip") {
    s.Compression = CabCompression::Mszip;
  } else if (v == "lzx" || (v.size() == 6 && v.compare(0, 4, "lzx:") == 0 && std::isdigit(uint8_t(v[4])) &&
                            std::isdigit(uint8_t(v[5])) && std::stoi(v.substr(4)) >= 15 &&
                            std::stoi(v.substr(4)) <= 21)) {
    s.Compression = CabCompression::Lzx;
    s.LzxWindowBits = v == "lzx" ? 21 : unsigned(std::stoi(v.substr(4)));
  } else {
    error = "--compression takes none, mszip, lzx or lzx:15 to lzx:21, not \"" + v + "\"";
    return false;
  }
  return true;
}

bool SetCodePage(Settings& s, const std::string& v, std::string& error) {
  char* end = nullptr;
  long n = std::strtol(v.c_str(), &end, 10);
  if (v.empty() || *end != '\0' || n <= 0 || n > 65535) {
    error = "--codepage takes a code page number such as 932 or 1252, not \"" + v + "\"";
    return false;
  }
  s.CodePage = int(n);
  return true;
}

bool SetArch(Settings&, const std::string& v, std::string& error) {
  RunnerArch arch;
  if (ParseArch(v, arch)) return true;
  error = "--arch takes x86 or x64, not \"" + v + "\"";
  return false;
}

// Sets one text of the version resource.
template <std::string VersionSettings::*Text>
bool SetVersionText(Settings& s, const std::string& v, std::string&) {
  s.Version.*Text = v;
  return true;
}

// What a switch takes. A Path given in a package file is relative to the file's folder.
enum class Takes { Nothing, Text, Path };

// One switch: --NAME on the command line, and NAME = value in a package file unless it is for
// the command line only. A plain value goes into Field; Apply reads the others.
struct Switch {
  const char* Name;
  Takes Value;
  const char* ValueName;
  bool CommandLineOnly;
  std::string Settings::*Field;
  bool (*Apply)(Settings& s, const std::string& value, std::string& error);
  const char* Help;
};

const Switch Switches[] = {
    {"source", Takes::Path, "DIR", false, &Settings::Source, nullptr,
     "pack every file under DIR (named by its path relative to DIR; no links, no empty folders)"},
    {"run", Takes::Text, "RELPATH", false, &Settings::Run, nullptr,
     "the file to run after extraction: its path under DIR, or its name in the --cab cabinet, whose "
     "run flag is then set on it alone (/ or \\ between folders)"},
    {"exclude", Takes::Text, "GLOB", false, nullptr,
     [](Settings& s, const std::string& v, std::string&) { return s.Excludes.push_back(v), true; },
     "leave out the files and folders that match (repeatable; * and ? in any case; without / it "
     "matches names at any depth, with / paths from DIR)"},
    {"on", Takes::Text, "OPTION", false, nullptr,
     [](Settings& s, const std::string& v, std::string& e) { return SetOption(s, v, true, e); },
     "switch OPTION on (repeatable; the last mention of an option wins)"},
    {"off", Takes::Text, "OPTION", false, nullptr,
     [](Settings& s, const std::string& v, std::string& e) { return SetOption(s, v, false, e); },
     "switch OPTION off (repeatable)"},
    {"arguments", Takes::Text, "TEXT", false, nullptr,
     [](Settings& s, const std::string& v, std::string&) { return s.Arguments = v, true; },
     "fixed arguments for the payload, handed on as written after the /Runner= argument (\"\" writes an "
     "empty entry)"},
    {"compression", Takes::Text, "none|mszip|lzx|lzx:15..21", false, nullptr, SetCompression,
     "how the cabinet is compressed (default mszip; lzx is lzx:21, a 2^21-byte window)"},
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
    {"product-version", Takes::Text, "a.b.c.d", false, nullptr, SetVersionText<&VersionSettings::ProductVersion>,
     "the product version, four numbers of 0 to 65535 (also the file version when that is not given)"},
    {"file-version", Takes::Text, "a.b.c.d", false, nullptr, SetVersionText<&VersionSettings::FileVersion>,
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
    {"config", Takes::Path, "FILE", true, &Settings::Config, nullptr,
     "read the switches from a package file first (as cabpack build FILE)"},
    {"list", Takes::Path, "FILE", true, &Settings::List, nullptr,
     "print a package's resources, options, version texts, icon sizes and files, or a plain cabinet's "
     "files"},
    {"save-cab", Takes::Path, "FILE", true, &Settings::SaveCab, nullptr,
     "write a package's cabinet out unchanged (to -o FILE); a plain cabinet is copied"},
    {"quiet", Takes::Nothing, nullptr, true, nullptr,
     [](Settings& s, const std::string&, std::string&) { return s.Quiet = true; },
     "print nothing but errors (also -q)"},
    {"help", Takes::Nothing, nullptr, true, nullptr,
     [](Settings& s, const std::string&, std::string&) { return s.Help = true; }, "print this help (also -h)"},
    {"version", Takes::Nothing, nullptr, true, nullptr,
     [](Settings& s, const std::string&, std::string&) { return s.PrintVersion = true; }, "print cabpack's version"},
};

// The short forms.
const struct {
  const char* Short;
  const char* Name;
} ShortSwitches[] = {{"-o", "output"}, {"-q", "quiet"}, {"-h", "help"}};

const Switch* FindSwitch(const std::string& name) {
  for (const Switch& sw : Switches)
    if (name == sw.Name) return &sw;
  return nullptr;
}

std::vector<std::string> SwitchNames(const std::string& prefix, bool commandLine) {
  std::vector<std::string> names;
  for (const Switch& sw : Switches)
    if (commandLine || !sw.CommandLineOnly) names.push_back(prefix + sw.Name);
  return names;
}

bool ApplySwitch(const Switch& sw, const std::string& value, Settings& s, std::string& error) {
  if (sw.Field) s.*sw.Field = value;
  return !sw.Apply || sw.Apply(s, value, error);
}

// `text` broken at blanks into lines of at most `width`, every line after the first indented.
std::string Wrapped(const std::string& text, size_t width, size_t indent) {
  std::string result, line;
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      result += line + "\n" + std::string(indent, ' ');
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  return result + line;
}

std::string HelpText() {
  std::ostringstream text;
  text << "cabpack " << CABPACK_VERSION
       << ": makes a cabrun package, a self-extracting program for Windows (x86 or x64) that\n"
          "extracts its files and runs one of them, from a folder or a cabinet.\n\n"
       << Usage << "\nSwitches (--NAME VALUE or --NAME=VALUE):\n";
  for (const Switch& sw : Switches) {
    std::string left = std::string("--") + sw.Name + (sw.ValueName ? std::string(" ") + sw.ValueName : "");
    text << "  " << std::left << std::setw(26) << left << Wrapped(sw.Help, 70, 28) << "\n";
  }
  text << "\nOptions for --on and --off (in any case):\n";
  for (size_t i = 0; i < std::size(PackageOptionNames); ++i)
    text << "  " << std::left << std::setw(22) << PackageOptionNames[i] << std::setw(5)
         << (DefaultOptionState(int(i)) ? "on" : "off") << Wrapped(OptionMeaning(int(i)), 70, 29) << "\n";
  text << "\nA package file holds the same switches as \"NAME = VALUE\" lines (all but config, list,\n"
          "save-cab, quiet, help and version; on, off and exclude may repeat), comment lines\n"
          "starting with ; or #, paths relative to the file. Switches on the command line come\n"
          "after it: they replace its values (on, off and exclude add to them). Example:\n\n"
          "  source = payload\n  run = setup.exe\n  on = HideWhileRunning\n  exclude = *.pdb\n"
          "  product-name = Board firmware\n  product-version = 2.1.0.0\n  icon = logo.ico\n"
          "  output = ../out/update.exe\n\n"
          "When SOURCE_DATE_EPOCH is set (seconds, read as UTC), it replaces every file's time.\n";
  return text.str();
}

// One switch as given on the command line: what it is and its value.
struct Given {
  const Switch* Sw;
  std::string Value;
};

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
  return ReadPackageFile(
      file,
      [&](const std::string& name, const std::string& value, std::string& message) {
        const Switch* sw = FindSwitch(name);
        if (!sw) {
          message = "unknown name \"" + name + "\"" + DidYouMean(name, SwitchNames("", false));
          return false;
        }
        if (sw->CommandLineOnly) {
          message = "\"" + name + "\" goes on the command line only, not into a package file";
          return false;
        }
        if (value.empty()) {
          message = "\"" + name + "\" needs a value";
          return false;
        }
        return ApplySwitch(*sw, sw->Value == Takes::Path ? Beside(file, value) : value, s, message);
      },
      error);
}

bool ParseArguments(const std::vector<std::string>& args, Settings& s, Failure& failure) {
  failure.Code = 2;
  std::vector<Given> given;
  if (!ReadCommandLine(args, given, failure.Message)) return false;
  for (const Given& g : given)
    if (g.Sw->Field == &Settings::Config) s.Config = g.Value;
  if (!s.Config.empty() && !ReadConfig(s.Config, s, failure.Message)) return false;
  for (const Given& g : given) {
    if (!ApplySwitch(*g.Sw, g.Value, s, failure.Message)) return false;
  }
  if (s.Help || s.PrintVersion) return true;
  int modes = !s.Source.empty() + !s.Cab.empty() + !s.List.empty() + !s.SaveCab.empty();
  if (modes != 1)
    failure.Message = "give exactly one of --source, --cab, --list and --save-cab";
  else if (!s.List.empty() && (!s.Output.empty() || !s.Stub.empty() || !s.Arch.empty() || !s.Choices.empty() || s.Arguments))
    failure.Message = "--list takes only the package";
  else if (s.List.empty() && s.Output.empty())
    failure.Message = "name the output with -o";
  else if (s.Output == "-")
    failure.Message = "cannot write a package to standard output (-o -); name the output file";
  else if (!s.Source.empty() && s.Run.empty())
    failure.Message = "--source needs --run RELPATH, the file to run after extraction";
  else if (s.Source.empty() && (s.CodePage != 0 || !s.Excludes.empty()))
    failure.Message = "--codepage and --exclude go with --source";
  else if (!s.List.empty() + !s.SaveCab.empty() && (!s.Run.empty() || !s.Version.Empty() || !s.Icon.empty()))
    failure.Message = "--run, the version texts and --icon go with --source or --cab";
  else if (!s.SaveCab.empty() && (!s.Stub.empty() || !s.Arch.empty() || !s.Choices.empty() || s.Arguments))
    failure.Message = "--save-cab takes only the package and -o";
  else
    return true;
  return false;
}

// Reads a program's resources; `role` names it in messages ("the stub", "the package").
bool ReadPackage(const fs::path& path, const std::string& role, PeImage& image, std::vector<ResourceItem>& items,
                 Failure& failure) {
  FileSpan whole;
  if (!WholeFileSpan(path, whole)) {
    failure.Message = "cannot read " + role + " \"" + path.u8string() + "\"";
    return false;
  }
  std::string error;
  if (!ReadPeImage(path, image, error) || !ReadResources(image, items, error)) {
    failure.Message = role + " \"" + path.u8string() + "\": " + error;
    return false;
  }
  return true;
}

// What a packing run did, for the summary line.
struct PackStats {
  size_t Files = 0;
  uint64_t BytesIn = 0, BytesOut = 0;
  int Excluded = 0;
};

// Tells on stderr how far the cabinet is, at most ten times a second; stops on an interruption.
class TProgressLine {
 public:
  TProgressLine(std::ostream& err, bool shown, uint64_t total) : Err(err), Shown(shown), Total(total) {}
  ~TProgressLine() {
    if (Drawn) Err << "\r" << std::string(60, ' ') << "\r" << std::flush;
  }
  bool Update(uint64_t done) {
    auto now = std::chrono::steady_clock::now();
    if (Shown && now - Last >= std::chrono::milliseconds(100)) {
      Last = now;
      Drawn = true;
      Err << "\rcabpack: packing " << (Total ? done * 100 / Total : 100) << "% of " << Total << " bytes"
          << std::flush;
    }
    return !Interrupted();
  }

 private:
  std::ostream& Err;
  bool Shown, Drawn = false;
  uint64_t Total;
  std::chrono::steady_clock::time_point Last = std::chrono::steady_clock::now();
};


// The cabinet to embed, made from the source folder or taken from --cab (in `staged` when its run
// flag is set here), checked that the runner can run it.
// Stages the cabinet; digests gets the SHA-256 of each file in the cabinet's order (32 bytes each)
// when cabpack packs the files itself, and stays empty for a cabinet given with --cab.
bool StageCabinet(const Settings& s, const fs::path& staged, FileSpan& cabinet, std::string& digests,
                  PackStats& stats, std::ostream& err, Failure& failure) {
  std::string error;
  if (!s.Cab.empty()) {
    if (!WholeFileSpan(fs::u8path(s.Cab), cabinet)) {
      failure.Message = "cannot read the cabinet \"" + s.Cab + "\"";
      return false;
    }
    if (!s.Run.empty()) {
      std::ofstream copy(staged, std::ios::binary);
      bool copied = CopySpan(cabinet, copy) && copy.flush();
      copy.close();
      if (!copied || !WholeFileSpan(staged, cabinet)) {
        failure.Message = "cannot copy the cabinet \"" + s.Cab + "\" for --run";
        return false;
      }
      if (!FlagFileToRun(staged, s.Run, error)) {
        failure.Message = "\"" + s.Cab + "\": " + error;
        return false;
      }
    }
  } else {
    SourceSettings source;
    source.Folder = s.Source;
    source.RunPath = s.Run;
    source.CodePage = s.CodePage;
    source.Output = s.Output;
    source.Excludes = s.Excludes;
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
      char* end = nullptr;
      source.FixedSeconds = std::strtoll(epoch, &end, 10);
      source.FixedTime = *epoch != '\0' && *end == '\0';
      if (!source.FixedTime) {
        failure.Message = "SOURCE_DATE_EPOCH must be a number of seconds, not \"" + std::string(epoch) + "\"";
        return false;
      }
    }
    std::vector<CabFile> files;
    SourceReport report;
    if (!CollectSourceFiles(source, files, report, error)) {
      failure.Message = error;
      return false;
    }
    if (!s.Quiet)
      for (const std::string& skipped : report.Skipped) err << "cabpack: " << skipped << "\n";
    stats.Excluded = report.Excluded;
    CabOptions options;
    options.Compression = s.Compression;
    options.LzxWindowBits = s.LzxWindowBits;
    TProgressLine progress(err, s.ShowProgress && !s.Quiet, report.Bytes);
    options.Progress = [&](uint64_t done) { return progress.Update(done); };
    std::vector<Sha256Digest> sums;
    options.Digests = &sums;
    if (!WriteCabinet(files, options, staged.u8string(), error) || !WholeFileSpan(staged, cabinet)) {
      failure.Message = error.empty() ? "cannot read back the cabinet" : error;
      if (Interrupted()) failure = {"interrupted", 130};
      return false;
    }
    for (const Sha256Digest& sum : sums) digests.append(sum.begin(), sum.end());
  }
  CabinetTable table;
  if (!ReadCabinetTable(cabinet, table, error) || !CheckRunnable(table, error)) {
    failure.Message = "\"" + (s.Cab.empty() ? std::string("the new cabinet") : s.Cab) + "\": " + error;
    return false;
  }
  stats.Files = table.Files.size();
  for (const CabinetEntry& e : table.Files) stats.BytesIn += e.Size;
  return true;
}

// The vendor's version texts and icon, set in the stub's resources.
bool Dress(const Settings& s, std::vector<ResourceItem>& items, Failure& failure) {
  std::string ico, error;
  FileSpan icon;
  if (!s.Icon.empty()) {
    bool found = WholeFileSpan(fs::u8path(s.Icon), icon), tooLarge = found && icon.Size > MaxIconFile;
    if (!found || tooLarge || !ReadSpan(icon, icon.Size, ico)) {
      failure.Message = "cannot read the icon \"" + s.Icon + "\"" + (tooLarge ? ": over 16 MB" : "");
      return false;
    }
    if (!ApplyIcon(items, ico, error)) {
      failure.Message = "the icon \"" + s.Icon + "\": " + error;
      return false;
    }
  }
  if (!s.Version.Empty() && !ApplyVersion(items, s.Version, error)) {
    failure.Message = error;
    return false;
  }
  return true;
}

// The stub named, or the runner of the architecture asked for where an installation puts it
// (cabrun.exe for x86, cabrun-x64.exe): beside cabpack, or in ../share/cabrun/ from cabpack's folder.
bool FindStub(const Settings& s, fs::path& stub, Failure& failure) {
  if (!s.Stub.empty()) {
    stub = fs::u8path(s.Stub);
    return true;
  }
  RunnerArch arch = RunnerArch::X86;
  ParseArch(s.Arch, arch);
  std::string name = arch == RunnerArch::X86 ? "cabrun.exe" : std::string("cabrun-") + ArchName(arch) + ".exe";
  fs::path folder = OwnExecutablePath().parent_path();
  const fs::path places[] = {folder / name, folder / ".." / "share" / "cabrun" / name};
  for (const fs::path& place : places) {
    std::error_code ec;
    if (fs::is_regular_file(place, ec)) {
      stub = place.lexically_normal();
      return true;
    }
  }
  failure.Message = "no " + name + " beside cabpack (\"" + places[0].u8string() + "\") or in \"" +
                    places[1].lexically_normal().u8string() + "\"; name the stub with --stub";
  return false;
}


bool Pack(const Settings& s, PackStats& stats, std::ostream& err, Failure& failure) {
  fs::path stub;
  if (!FindStub(s, stub, failure)) return false;
  fs::path outputPath = fs::u8path(s.Output);
  if (SameFile(stub, outputPath) || (!s.Cab.empty() && SameFile(fs::u8path(s.Cab), outputPath))) {
    failure.Message = "the output \"" + s.Output + "\" would overwrite its own input";
    return false;
  }
  PeImage image;
  std::vector<ResourceItem> items;
  if (!ReadPackage(stub, "the stub", image, items, failure)) return false;
  std::string error;
  RunnerArch asked;
  if (!CheckRunnerImage(image, error)) {
    failure.Message = "the stub \"" + stub.u8string() + "\" is " + error;
    return false;
  }
  if (ParseArch(s.Arch, asked) && asked != image.Arch) {
    failure.Message = "the stub \"" + stub.u8string() + "\" is an " + ArchName(image.Arch) + " runner (" +
                      ArchFormatName(image.Arch) + "), not " + ArchName(asked) + " as --arch says";
    return false;
  }
  if (!Dress(s, items, failure)) return false;
  TStagedOutput output(s.Output);
  TTempFile staged(outputPath, ".cab");
  FileSpan cabinet;
  std::string digests;
  if (!output.Create(failure.Message) || !StageCabinet(s, staged.Path, cabinet, digests, stats, err, failure))
    return false;
  PutRcData(items, "CAB", cabinet);
  PutRcData(items, "OPT", BuildOptionList(s.Choices, s.Arguments));
  // A package made again from one with digests keeps none that do not belong to its cabinet.
  if (digests.empty())
    RemoveRcData(items, "SUM");
  else
    PutRcData(items, "SUM", digests);
  if (!RebuildResources(image, items, output.Stream(), error)) {
    failure.Message = output.Stream() ? "the stub \"" + stub.u8string() + "\": " + error
                                      : "cannot write \"" + s.Output + "\"";
    return false;
  }
  // On Windows Ctrl+C only sets a flag: the package must not be put in place after it.
  if (Interrupted()) {
    failure = {"interrupted", 130};
    return false;
  }
  stats.BytesOut = uint64_t(output.Stream().tellp());
  return output.Commit(failure.Message);
}

// What --list and --save-cab read: a plain cabinet, or a package and where its cabinet lies.
struct Opened {
  bool Plain = false;
  RunnerArch Arch = RunnerArch::X86;
  std::vector<ResourceItem> Items;
  const ResourceItem* Cab = nullptr;
  FileSpan Cabinet;
};

bool OpenPackageOrCabinet(const std::string& path, Opened& opened, Failure& failure) {
  FileSpan whole;
  std::string start;
  if (!WholeFileSpan(fs::u8path(path), whole) || !ReadSpan(whole, 4, start)) {
    failure.Message = "cannot read \"" + path + "\"";
    return false;
  }
  opened.Plain = LooksLikeCabinet(start);
  if (opened.Plain) {
    opened.Cabinet = whole;
    return true;
  }
  PeImage image;
  if (!ReadPackage(whole.File, "the package", image, opened.Items, failure)) return false;
  opened.Arch = image.Arch;
  opened.Cab = FindRcData(opened.Items, "CAB");
  if (opened.Cab) opened.Cabinet = opened.Cab->Place;
  return true;
}

bool SaveCabinet(const Settings& s, Failure& failure) {
  Opened opened;
  if (!OpenPackageOrCabinet(s.SaveCab, opened, failure)) return false;
  if (!opened.Plain && !opened.Cab) {
    failure.Message = "\"" + s.SaveCab + "\" carries no cabinet";
    return false;
  }
  if (SameFile(fs::u8path(s.SaveCab), fs::u8path(s.Output))) {
    failure.Message = "the output \"" + s.Output + "\" would overwrite its own input";
    return false;
  }
  TStagedOutput output(s.Output);
  if (!output.Create(failure.Message)) return false;
  if (!CopySpan(opened.Cabinet, output.Stream())) {
    failure.Message = "cannot copy the cabinet out of \"" + s.SaveCab + "\"";
    return false;
  }
  return output.Commit(failure.Message);
}

std::string TypeText(const ResourceKey& type) {
  static const char* const names[] = {nullptr,   "cursor",  "bitmap",       "icon",    "menu",
                                       "dialog",  "string",  "font folder",  "font",    "accelerators",
                                       "RCDATA",  "message table", "cursor group", nullptr, "icon group",
                                       nullptr,   "version"};
  if (!type.Named && type.Id == 24) return "manifest";
  if (!type.Named && type.Id < std::size(names) && names[type.Id]) return names[type.Id];
  return ResourceKeyText(type);
}

std::string DateText(uint16_t date, uint16_t time) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", 1980 + (date >> 9), (date >> 5) & 15, date & 31,
                time >> 11, (time >> 5) & 63, (time & 31) * 2);
  return text;
}

std::string AttributeText(uint16_t a) {
  std::string t = "----";
  if (a & 0x01) t[0] = 'R';
  if (a & 0x02) t[1] = 'H';
  if (a & 0x04) t[2] = 'S';
  if (a & 0x20) t[3] = 'A';
  return t;
}

// The package's resources and options.
void ListPackage(const std::string& path, RunnerArch arch, const std::vector<ResourceItem>& items, std::ostream& out) {
  out << "Package " << path << ": " << ArchName(arch) << " runner (" << ArchFormatName(arch) << ")\n\nResources:\n";
  for (const ResourceItem& item : items)
    out << "  " << std::left << std::setw(14) << TypeText(item.Type) << std::setw(12) << ResourceKeyText(item.Name)
        << "language " << std::setw(6) << item.Language << std::right << std::setw(12) << item.Size()
        << " bytes\n";

  out << "\nOptions:\n";
  const ResourceItem* opt = FindRcData(items, "OPT");
  std::vector<OptionListEntry> entries = opt ? ReadOptionList(opt->Data) : std::vector<OptionListEntry>();
  int count = int(std::size(PackageOptionNames));
  for (int i = 0; i < count; ++i) {
    const OptionListEntry* set = nullptr;
    for (const OptionListEntry& e : entries)
      if (e.Option == i) set = &e;  // the last entry wins, as in the runner
    bool on = set ? set->On : DefaultOptionState(i);
    out << "  " << std::left << std::setw(22) << PackageOptionNames[i] << std::setw(5) << (on ? "on" : "off")
        << (set ? "(set)" : "(default)") << "\n";
  }
  const OptionListEntry* fixed = nullptr;
  for (const OptionListEntry& e : entries)
    if (e.Arguments) fixed = &e;
  out << "  " << std::left << std::setw(22) << "Arguments" << (fixed ? "\"" + fixed->Value + "\"" : "(none)") << "\n";
  for (const OptionListEntry& e : entries)
    if (e.Option < 0 && !e.Arguments) out << "  ignored entry \"" << e.Key << (e.Key.empty() ? "" : "=") << e.Value << "\"\n";
  if (!opt) out << "  (no option list: the runner's defaults apply)\n";

  for (const ResourceItem& item : items) {
    VersionFacts version;
    if (!item.Type.Named && item.Type.Id == RtVersion && ReadVersion(item.Data, version)) {
      out << "\nVersion (language " << item.Language << "): file " << version.FileVersion << ", product "
          << version.ProductVersion << "\n";
      for (const auto& text : version.Strings)
        out << "  " << std::left << std::setw(20) << text.first << text.second << "\n";
    }
    if (!item.Type.Named && item.Type.Id == RtGroupIcon) {
      out << "\nIcon " << ResourceKeyText(item.Name) << ":";
      std::vector<std::string> sizes = IconGroupSizes(item.Data);
      for (size_t i = 0; i < sizes.size(); ++i) out << (i ? ", " : " ") << sizes[i];
      out << "\n";
    }
  }
}

std::string HexText(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char b : bytes) text += {digits[b >> 4], digits[b & 15]};
  return text;
}

bool List(const Settings& s, std::ostream& out, Failure& failure) {
  Opened opened;
  if (!OpenPackageOrCabinet(s.List, opened, failure)) return false;
  if (opened.Plain) {
    out << "Cabinet file " << s.List << "\n";
  } else {
    ListPackage(s.List, opened.Arch, opened.Items, out);
    if (!opened.Cab) {
      out << "\nNo cabinet.\n";
      return true;
    }
  }
  CabinetTable table;
  std::string error;
  if (!ReadCabinetTable(opened.Cabinet, table, error)) {
    failure.Message = "\"" + s.List + "\": " + error;
    return false;
  }
  uint64_t total = 0;
  for (const CabinetEntry& e : table.Files) total += e.Size;
  out << "\nCabinet: " << opened.Cabinet.Size << " bytes, " << table.Files.size() << " files, " << total
      << " bytes unpacked; compression";
  for (uint16_t c : table.FolderCompression) out << " " << CompressionName(c);
  out << "\n";
  for (const CabinetEntry& e : table.Files)
    out << "  " << std::right << std::setw(12) << e.Size << "  " << DateText(e.Date, e.Time) << "  "
        << AttributeText(e.Attributes) << "  " << e.Name
        << ((e.Attributes & RunAfterExtraction) ? "   <- run after extraction" : "") << "\n";
  if (!CheckRunnable(table, error)) out << "Warning: " << error << ".\n";
  const ResourceItem* sums = opened.Plain ? nullptr : FindRcData(opened.Items, "SUM");
  if (!sums) return true;
  // In sha256sum's format, so that extracted files can be checked with `sha256sum -c`.
  out << "\nSHA-256 of each file, checked by the runner after the expansion:\n";
  if (sums->Data.size() != 32 * table.Files.size())
    out << "Warning: " << sums->Data.size() / 32 << " digests for " << table.Files.size()
        << " files; the runner will not start the payload.\n";
  for (size_t i = 0; i < table.Files.size() && 32 * (i + 1) <= sums->Data.size(); ++i) {
    std::string name = table.Files[i].Name;
    std::replace(name.begin(), name.end(), '\\', '/');
    out << HexText(sums->Data.substr(32 * i, 32)) << "  " << name << "\n";
  }
  return true;
}

}  // namespace

int RunCabpack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress) {
  if (args.empty()) {
    err << Usage << "cabpack --help tells more.\n";
    return 2;
  }
  auto started = std::chrono::steady_clock::now();
  Settings settings;
  settings.ShowProgress = showProgress;
  Failure failure;
  PackStats stats;
  bool ok = ParseArguments(args, settings, failure);
  if (ok) {
    failure.Code = 1;
    if (settings.Help) {
      out << HelpText();
    } else if (settings.PrintVersion) {
      out << "cabpack " << CABPACK_VERSION << "\n";
    } else if (!settings.List.empty()) {
      ok = List(settings, out, failure) && out.flush();
      if (!ok && failure.Message.empty()) failure.Message = "cannot write the listing";
    } else if (!settings.SaveCab.empty()) {
      ok = SaveCabinet(settings, failure);
    } else if ((ok = Pack(settings, stats, err, failure)) && !settings.Quiet) {
      double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      out << "made \"" << settings.Output << "\": " << stats.Files << " files, " << stats.BytesIn << " bytes in, "
          << stats.BytesOut << " bytes out, ratio " << std::fixed << std::setprecision(2)
          << (stats.BytesIn ? double(stats.BytesOut) / double(stats.BytesIn) : 0.0) << ", " << seconds << " s";
      if (stats.Excluded) out << "; " << stats.Excluded << " left out by --exclude";
      out << "\n";
    }
  }
  if (ok) return 0;
  err << "cabpack: " << failure.Message << "\n";
  if (failure.Code == 2) err << Usage << "cabpack --help tells more.\n";
  return failure.Code;
}
