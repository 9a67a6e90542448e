#include "packager/switches.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <sstream>

#include "format/cabinet.h"
#include "format/package_options.h"
#include "packager/package_file.h"
#include "packager/signing.h"
#include "packager/package_host.h"

namespace fs = std::filesystem;

const char* const Usage =
    "usage: cabpack --source DIR --run RELPATH [SWITCH]... -o OUT.exe\n"
    "       cabpack build PACKAGE-FILE [SWITCH]...\n"
    "       cabpack --cab FILE.cab [--run NAME] [SWITCH]... -o OUT.exe\n"
    "       cabpack --list PACKAGE.exe|FILE.cab\n"
    "       cabpack --save-cab PACKAGE.exe|FILE.cab -o OUT.cab\n";

namespace {

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

bool SetSignCommand(Settings&, const std::string& v, std::string& error) {
  std::vector<std::string> words;
  return SplitSignCommand(v, words, error);
}

// Sets one text of the version resource, checked here so that a package file's mistake is
// told with its line.
template <std::string VersionSettings::*Text>
bool SetVersionText(Settings& s, const std::string& v, std::string& error) {
  if (!IsUtf8(v)) {
    error = "the text is not UTF-8, as cabpack takes every text";
    return false;
  }
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

// What a switch takes. A Path given in a package file is relative to the file's folder.
enum class Takes { Nothing, Text, Path };

// One switch: --NAME on the command line, and NAME = value in a package file unless it is for
// the command line only. A plain value goes into Field; Apply reads the others, its message
// following "--NAME: " or the package file's "NAME: ". Without Help it is hidden: left out of the
// help, the manual page and the completion (the build uses them).
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
     "place); for example 'osslsigncode sign -pkcs12 key.p12 -in {in} -out {out}'"},
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
    if (sw.Help && (commandLine || !sw.CommandLineOnly)) names.push_back(prefix + sw.Name);
  return names;
}

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

// Texts the help and the manual page share.
const char* const Summary =
    "makes a cabrun package, a self-extracting program for Windows (x86 or x64) that extracts its "
    "files and runs one of them, from a folder or a cabinet.";
const char* const PackageFileExample[] = {
    "source = payload", "run = setup.exe", "on = HideWhileRunning   ; no window while it runs", "exclude = *.pdb",
    "product-name = Board firmware", "product-version = 2.1.0.0", "icon = logo.ico", "output = ../out/update.exe"};
const char* const SourceDateEpochText = "When SOURCE_DATE_EPOCH is set (seconds, read as UTC), it replaces every file's time.";
const struct {
  int Code;
  const char* Meaning;
} ExitCodes[] = {
    {0, "done"},
    {1, "failed: nothing was written, an existing output stays as it was"},
    {2, "a mistake on the command line or in the package file"},
    {130, "interrupted (Ctrl+C, SIGINT, SIGTERM): nothing was written"},
};

// "NAME = VALUE" lines: which switches a package file cannot hold, from the table.
std::string PackageFileText() {
  std::string names;
  std::vector<std::string> only;
  for (const Switch& sw : Switches)
    if (sw.Help && sw.CommandLineOnly) only.push_back(sw.Name);
  for (size_t i = 0; i < only.size(); ++i) names += (i == 0 ? "" : i + 1 == only.size() ? " and " : ", ") + only[i];
  return "A package file holds the same switches as \"NAME = VALUE\" lines (all but " + names +
         "; on, off and exclude may repeat), comment lines starting with ; or #, paths relative to the file; "
         "after any value, a ; that follows a blank starts a comment; there are no [sections]. "
         "Switches on the command line come after it: they replace its values (on, off and exclude add to them). "
         "Example:";
}

std::string SwitchLeft(const Switch& sw) {
  return std::string("--") + sw.Name + (sw.ValueName ? std::string(" ") + sw.ValueName : "");
}

}  // namespace

std::string HelpText() {
  // Two columns within 80: the switch, and its meaning from HelpColumn on (below a long switch).
  constexpr size_t Width = 80, HelpColumn = 28, OptionColumn = 29;
  std::ostringstream text;
  text << Wrapped(std::string("cabpack ") + CABPACK_VERSION + ": " + Summary, Width, 0) << "\n\n"
       << Usage << "\nSwitches (--NAME VALUE or --NAME=VALUE):\n";
  for (const Switch& sw : Switches) {
    if (!sw.Help) continue;
    std::string left = "  " + SwitchLeft(sw);
    if (left.size() + 2 > HelpColumn)
      text << left << "\n" << std::string(HelpColumn, ' ');
    else
      text << std::left << std::setw(int(HelpColumn)) << left;
    text << Wrapped(sw.Help, Width - HelpColumn, HelpColumn) << "\n";
  }
  text << "\nOptions for --on and --off (in any case), and their defaults:\n";
  for (int i = 0; i < PackageOptionCount; ++i)
    text << "  " << std::left << std::setw(22) << PackageOptionTexts[i].Name << std::setw(5)
         << (DefaultOptionState(i) ? "on" : "off") << Wrapped(PackageOptionTexts[i].Meaning, Width - OptionColumn, OptionColumn)
         << "\n";
  text << "\n" << Wrapped(PackageFileText(), Width, 0) << "\n\n";
  for (const char* line : PackageFileExample) text << "  " << line << "\n";
  text << "\n" << Wrapped(SourceDateEpochText, Width, 0) << "\n\nExit codes:\n";
  for (const auto& e : ExitCodes) text << "  " << std::left << std::setw(5) << e.Code << e.Meaning << "\n";
  return text.str();
}

namespace {

// Text for roff: backslashes and hyphens escaped, no line starting with a control character.
std::string Roff(const std::string& text) {
  std::string out;
  bool lineStart = true;
  for (char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    out += c == '\\' ? std::string("\\e") : c == '-' ? std::string("\\-") : std::string(1, c);
    lineStart = c == '\n';
  }
  return out;
}

// The values a switch takes, when they are few: "a|b|lzx:15..21" gives a, b, lzx:15 ... lzx:21.
std::vector<std::string> Choices(const Switch& sw) {
  std::vector<std::string> choices;
  if (sw.ValueName && std::string(sw.ValueName) == "OPTION") return PackageOptionNameList();
  if (!sw.ValueName || !std::strchr(sw.ValueName, '|')) return choices;
  std::istringstream alternatives(sw.ValueName);
  for (std::string a; std::getline(alternatives, a, '|');) {
    size_t dots = a.find(".."), digits = a.find_first_of("0123456789");
    if (dots == std::string::npos || digits > dots) {
      choices.push_back(a);
      continue;
    }
    for (int n = std::stoi(a.substr(digits)); n <= std::stoi(a.substr(dots + 2)); ++n)
      choices.push_back(a.substr(0, digits) + std::to_string(n));
  }
  return choices;
}

std::string Joined(const std::vector<std::string>& words, const char* between) {
  std::string text;
  for (const std::string& w : words) text += (text.empty() ? "" : between) + w;
  return text;
}

}  // namespace

std::string ManPageText() {
  std::ostringstream man;
  man << ".\\\" Made by cabpack --man-page from its switch table (packager/switches.cpp).\n"
      << ".TH CABPACK 1 \"\" \"cabpack " << CABPACK_VERSION << "\" \"User Commands\"\n"
      << ".SH NAME\ncabpack \\- " << Roff(Summary) << "\n.SH SYNOPSIS\n.nf\n";
  std::istringstream usage(Usage);
  for (std::string line; std::getline(usage, line);)
    man << Roff(line.substr(line.find("cabpack"))) << "\n";
  man << ".fi\n.SH OPTIONS\nEvery switch also takes the form \\fB\\-\\-NAME=VALUE\\fR.\n";
  for (const Switch& sw : Switches) {
    if (!sw.Help) continue;
    man << ".TP\n\\fB\\-\\-" << Roff(sw.Name) << "\\fR";
    if (sw.ValueName) man << " \\fI" << Roff(sw.ValueName) << "\\fR";
    man << "\n" << Roff(sw.Help) << "\n";
  }
  man << ".SH \"PACKAGE OPTIONS\"\nThe options \\fB\\-\\-on\\fR and \\fB\\-\\-off\\fR take, in any case:\n";
  for (int i = 0; i < PackageOptionCount; ++i)
    man << ".TP\n.B " << PackageOptionTexts[i].Name << "\n" << Roff(PackageOptionTexts[i].Meaning) << " (default "
        << (DefaultOptionState(i) ? "on" : "off") << ")\n";
  man << ".SH \"PACKAGE FILE\"\n" << Roff(PackageFileText()) << "\n.PP\n.RS\n.nf\n";
  for (const char* line : PackageFileExample) man << Roff(line) << "\n";
  man << ".fi\n.RE\n.SH ENVIRONMENT\n.TP\n.B SOURCE_DATE_EPOCH\n" << Roff(SourceDateEpochText) << "\n.SH \"EXIT STATUS\"\n";
  for (const auto& e : ExitCodes) man << ".TP\n.B " << e.Code << "\n" << Roff(e.Meaning) << "\n";
  man << ".SH \"SEE ALSO\"\n.BR cabextract (1),\n.BR gcab (1),\n.BR osslsigncode (1)\n";
  return man.str();
}

std::string BashCompletionText() {
  std::vector<std::string> names = SwitchNames("--", true), paths, folders, texts;
  for (const auto& s : ShortSwitches) names.push_back(s.Short);
  std::ostringstream script;
  script << "# bash completion for cabpack; made by cabpack --bash-completion from its switch table.\n"
            "_cabpack() {\n"
            "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
            "  COMPREPLY=()\n"
            "  case $prev in\n";
  for (const Switch& sw : Switches) {
    if (!sw.Help || sw.Value == Takes::Nothing) continue;
    std::vector<std::string> choices = Choices(sw);
    std::string name = std::string("--") + sw.Name;
    for (const auto& s : ShortSwitches)
      if (name == std::string("--") + s.Name) name += std::string("|") + s.Short;
    if (!choices.empty())
      script << "    " << name << ") COMPREPLY=($(compgen -W '" << Joined(choices, " ") << "' -- \"$cur\")); return ;;\n";
    else if (sw.Value == Takes::Path && std::string(sw.ValueName) == "DIR")
      folders.push_back(name);
    else if (sw.Value == Takes::Path)
      paths.push_back(name);
    else
      texts.push_back(name);
  }
  paths.push_back("build");
  script << "    " << Joined(folders, "|") << ") compopt -o filenames; COMPREPLY=($(compgen -d -- \"$cur\")); return ;;\n"
         << "    " << Joined(paths, "|") << ") return ;;  # a file name: readline's own completion\n"
         << "    " << Joined(texts, "|") << ") return ;;\n"
         << "  esac\n"
         << "  case $cur in\n"
         << "    -*) COMPREPLY=($(compgen -W '" << Joined(names, " ") << "' -- \"$cur\")) ;;\n"
         << "    *) [ \"$COMP_CWORD\" -eq 1 ] && COMPREPLY=($(compgen -W 'build' -- \"$cur\")) ;;\n"
         << "  esac\n"
         << "}\n"
         << "complete -o default -F _cabpack cabpack\n";
  return script.str();
}

namespace {

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
        if (!ApplySwitch(*sw, name, value, s, message)) return false;
        if (sw->Field && sw->Value == Takes::Path) s.*sw->Field = Beside(file, value);
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
  for (const Given& g : given) {
    if (!ApplySwitch(*g.Sw, std::string("--") + g.Sw->Name, g.Value, s, failure.Message)) return false;
  }
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
  else if (!s.List.empty() && (!s.Output.empty() || !s.Stub.empty() || !s.Arch.empty() || !s.Choices.empty() || s.Arguments))
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
  else if (!s.SaveCab.empty() && (!s.Stub.empty() || !s.Arch.empty() || !s.Choices.empty() || s.Arguments))
    failure.Message = "--save-cab takes only the package and -o";
  else
    return true;
  return false;
}
