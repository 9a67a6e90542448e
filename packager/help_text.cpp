// The texts made from the switch table: --help, the manual page (cabpack.1) and the bash
// completion, so that none of them can miss a switch; and the package's own command line, which
// the manual page documents too.
#include <cstring>
#include <iomanip>
#include <iterator>
#include <sstream>

#include "format/package_options.h"
#include "packager/package_options.h"
#include "packager/switch_table.h"
#include "packager/text.h"

namespace {

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

// The package's own command line, which IT departments deploy it with, for the manual page: its
// switches, its exit codes and its log, as the README's sections on them tell it. A row with a
// Term is an item (the switch, the code); one without is a paragraph of its topic.
enum class PackageTopic { Switches, ExitCodes, Log };
const struct {
  PackageTopic Topic;
  const char* Term;
  const char* Text;
} PackageCommandLine[] = {
    {PackageTopic::Switches, nullptr,
     "A package is a Windows program, started as PACKAGE.exe [SWITCH]... [ARGUMENT].... Every argument, its "
     "switches included, is handed on to the payload after /Runner= with the package's own path and the package's "
     "fixed arguments; a switch whose option is off is an ordinary argument. A deployment tool's install command, "
     "with 0 (and, for a package with PassExitCode, 3010) as success: update.exe /quiet "
     "/log=C:\\Windows\\Temp\\update.log"},
    {PackageTopic::Switches, "/extract [FOLDER]",
     "only extract, after a confirmation, into FOLDER (relative to the current folder). An existing FOLDER gets a "
     "subfolder named after the package; without FOLDER the target is that subfolder of the current folder. A "
     "target that exists already is extracted into, never emptied: files of the package's names are replaced "
     "whole, everything else in it stays. Honoured unless the option AllowExtractSwitch is off."},
    {PackageTopic::Switches, "/lang=ENU, /lang=JPN",
     "English or Japanese texts, whatever the system's language. Honoured unless AllowLanguageSwitch is off."},
    {PackageTopic::Switches, "/quiet",
     "no progress window and no message box: a run that would show a box ends with that box's exit code instead "
     "and writes its text to the log; with /extract the files are extracted without asking. Nobody can cancel a "
     "quiet run. The payload sees /quiet among its arguments and should then show nothing either. Honoured "
     "unless AllowQuietSwitch is off."},
    {PackageTopic::Switches, "/log=PATH", "append a log of the run to PATH (relative to the current folder)."},
    {PackageTopic::ExitCodes, nullptr, "Every way a run ends has its own exit code:"},
    {PackageTopic::ExitCodes, "0",
     "The run did what it was asked: the payload was started and, unless the package starts it without waiting "
     "(StartWithoutWaiting), has ended; in extract-only mode the files were written. With PassExitCode on: the "
     "payload's own exit code instead."},
    {PackageTopic::ExitCodes, "101", "The extract-only target folder could not be made (\"Could not create ... folder!\")."},
    {PackageTopic::ExitCodes, "102", "No work folder could be made (\"Could not create package!\")."},
    {PackageTopic::ExitCodes, "103",
     "The package carries no cabinet, or carries its cabinet, option list or digests more than once (in several "
     "languages or name spellings, of which Windows would pick one by the user's language; refused before "
     "anything is made) (\"Could not extract package!\")."},
    {PackageTopic::ExitCodes, "104",
     "The expansion failed: a damaged or cut-short cabinet, a file that could not be written, files that do not "
     "match the package's digests or do not number as many, a refused name (not UTF-8, leading out of the "
     "extract folder, naming a device, or read as another path in the system's code page), or a link or second "
     "name of another file met in an extract-only target (\"Could not extract files!\")."},
    {PackageTopic::ExitCodes, "105", "The cabinet flags no program to run (\"An executable file is not specified!\")."},
    {PackageTopic::ExitCodes, "106", "The flagged program is not the file that was extracted (\"An executable file is not found!\")."},
    {PackageTopic::ExitCodes, "107",
     "The program could not be started, its command line would be too long, a batch payload's argument holds a % "
     "or a line break (\"Could not execute the executable file!\"), or an argument cannot be spelled in the "
     "system's code page (\"An argument cannot be passed to the executable file!\", before anything is "
     "extracted)."},
    {PackageTopic::ExitCodes, "1223",
     "The user cancelled (Escape in the progress window, which has no button) or declined the extract-only "
     "confirmation (ERROR_CANCELLED). A cancel while the payload runs ends the wait only, and the run still ends "
     "with 1223."},
    {PackageTopic::ExitCodes, "8",
     "Memory ran out (ERROR_NOT_ENOUGH_MEMORY): the run ended where it stood, removed what it had made and showed "
     "nothing."},
    {PackageTopic::ExitCodes, "1359", "The C++ library found a fault in the runner (ERROR_INTERNAL_ERROR); ends like 8."},
    {PackageTopic::ExitCodes, "any other",
     "The environment report could not be written: the Windows error number (for example 5, access denied; 112, "
     "disk full), after the box \"Runtime error NNN at XXXXXXXX\" (16 address digits from the x64 runner; not "
     "shown in a quiet run). The extract folder "
     "stays."},
    {PackageTopic::ExitCodes, nullptr,
     "A payload's own code counts only with PassExitCode: it should return 0 on success, 3010 when it succeeded "
     "and a restart is needed, 1641 when it has started the restart itself, and another code on failure, but "
     "none of 101 to 107 and 1223, which are the runner's own."},
    {PackageTopic::Log, nullptr,
     "With /log=PATH the package writes plain lines with a local time stamp, opened once per run: from \"start\" "
     "with its own path, its arguments, language and options (by the names cabpack takes), the extract folder, what "
     "was expanded, the payload's command line and how it ended, to the clean-up and \"exit code N\". A failure "
     "shows as \"message not shown: CAPTION: TEXT\" (or \"message:\" when the box was shown), followed by the "
     "clean-up and the exit code."},
    {PackageTopic::Log, nullptr,
     "A new log is made with private rights (SYSTEM and Administrators only: read it from an elevated prompt). An "
     "existing one is appended to only when it is a plain file with one name that SYSTEM, Administrators or "
     "TrustedInstaller own and nobody else controls; any other file there is replaced by a new private log, which "
     "says so in its second line. Where no file can be made at all (a folder, a missing folder, no rights), there "
     "is no log, and the run goes on unchanged. The log is UTF-8 and begins with its byte order mark."},
};

const char* TopicHeading(PackageTopic topic) {
  switch (topic) {
    case PackageTopic::Switches: return "THE PACKAGE'S COMMAND LINE";
    case PackageTopic::ExitCodes: return "THE PACKAGE'S EXIT STATUS";
    case PackageTopic::Log: return "THE PACKAGE'S LOG";
  }
  return "";
}

// "NAME = VALUE" lines: which switches a package file cannot hold, from the table.
std::string PackageFileText() {
  std::vector<std::string> only;
  for (const Switch& sw : SwitchRange())
    if (sw.Help && sw.CommandLineOnly) only.push_back(sw.Name);
  return "A package file holds the same switches as \"NAME = VALUE\" lines (all but " + Enumerated(only) +
         "; only " + RepeatingNames() + " may be given more than once), comment lines starting with ; or #, "
         "paths relative to the file; after any value, a ; that follows a blank starts a comment; a value in "
         "double quotes loses them and keeps its blanks and any ; inside; there are no [sections]. "
         "Switches on the command line come after it: they replace its values (" + RepeatingNames() +
         " add to them). Example:";
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
  for (const Switch& sw : SwitchRange()) {
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

// Whether the switch takes an option's name, which cabpack reads in any case.
bool TakesOption(const Switch& sw) { return sw.ValueName && std::string(sw.ValueName) == "OPTION"; }

// The values a switch takes, when they are few: "a|b[:15..21]" gives a, b, b:15 ... b:21.
std::vector<std::string> Choices(const Switch& sw) {
  std::vector<std::string> choices;
  if (TakesOption(sw)) return PackageOptionNameList();
  if (!sw.ValueName || !std::strchr(sw.ValueName, '|')) return choices;
  std::istringstream alternatives(sw.ValueName);
  for (std::string a; std::getline(alternatives, a, '|');) {
    size_t open = a.find('[');
    choices.push_back(a.substr(0, open));
    if (open == std::string::npos) continue;
    std::string range = a.substr(0, open) + a.substr(open + 1, a.find(']') - open - 1);
    size_t digits = range.find_first_of("0123456789", open), dots = range.find("..");
    for (int n = std::stoi(range.substr(digits)); n <= std::stoi(range.substr(dots + 2)); ++n)
      choices.push_back(range.substr(0, digits) + std::to_string(n));
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
  man << ".\\\" Made by cabpack --man-page from its switch table (packager/switches.cpp) and the table of the\n"
      << ".\\\" package's own command line (packager/help_text.cpp).\n"
      << ".TH CABPACK 1 \"\" \"cabpack " << CABPACK_VERSION << "\" \"User Commands\"\n"
      << ".nh\n"  // file names and switches are not to be hyphenated
      << ".SH NAME\ncabpack \\- " << Roff(Summary) << "\n.SH SYNOPSIS\n.nf\n";
  std::istringstream usage(Usage);
  for (std::string line; std::getline(usage, line);)
    man << Roff(line.substr(line.find("cabpack"))) << "\n";
  man << ".fi\n.SH OPTIONS\nEvery switch also takes the form \\fB\\-\\-NAME=VALUE\\fR.\n";
  for (const Switch& sw : SwitchRange()) {
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
  for (size_t i = 0; i < std::size(PackageCommandLine); ++i) {
    const auto& row = PackageCommandLine[i];
    if (i == 0 || row.Topic != PackageCommandLine[i - 1].Topic) man << ".SH \"" << TopicHeading(row.Topic) << "\"\n";
    else if (!row.Term) man << ".PP\n";
    if (row.Term) man << ".TP\n.B " << Roff(row.Term) << "\n";
    man << Roff(row.Text) << "\n";
  }
  man << ".SH \"SEE ALSO\"\n.BR cabextract (1),\n.BR gcab (1),\n.BR osslsigncode (1)\n";
  return man.str();
}

std::string BashCompletionText() {
  std::vector<std::string> names = SwitchNames("--", true), paths, folders, texts;
  for (const auto& s : ShortSwitchRange()) names.push_back(s.Short);
  std::ostringstream script;
  script << "# bash completion for cabpack; made by cabpack --bash-completion from its switch table.\n"
            "_cabpack() {\n"
            "  local i=$COMP_CWORD cur=${COMP_WORDS[COMP_CWORD]} word\n"
            "  # bash splits lzx:15 at its colon: the pieces are joined again here, and only what follows the\n"
            "  # last colon is handed back, since only that is replaced.\n"
            "  while [[ $COMP_WORDBREAKS == *:* ]] && ((i > 1)) && [[ ${COMP_WORDS[i]} == : || ${COMP_WORDS[i-1]} == : ]]; do\n"
            "    cur=${COMP_WORDS[i-1]}$cur\n"
            "    ((i--))\n"
            "  done\n"
            "  local prev=${COMP_WORDS[i-1]}\n"
            "  COMPREPLY=()\n"
            "  case $prev in\n";
  for (const Switch& sw : SwitchRange()) {
    if (!sw.Help || sw.Value == Takes::Nothing) continue;
    std::vector<std::string> choices = Choices(sw);
    std::string name = std::string("--") + sw.Name;
    for (const auto& s : ShortSwitchRange())
      if (name == std::string("--") + s.Name) name += std::string("|") + s.Short;
    if (TakesOption(sw))  // in any case, as cabpack takes them
      script << "    " << name << ") for word in " << Joined(choices, " ")
             << "; do [[ ${word,,} == \"${cur,,}\"* ]] && COMPREPLY+=(\"$word\"); done ;;\n";
    else if (!choices.empty())
      script << "    " << name << ") COMPREPLY=($(compgen -W '" << Joined(choices, " ") << "' -- \"$cur\")) ;;\n";
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
         << "    *) case $cur in\n"
         << "         -*) COMPREPLY=($(compgen -W '" << Joined(names, " ") << "' -- \"$cur\")) ;;\n"
         << "         *) [ \"$COMP_CWORD\" -eq 1 ] && COMPREPLY=($(compgen -W 'build' -- \"$cur\")) ;;\n"
         << "       esac ;;\n"
         << "  esac\n"
         << "  if [[ $cur == *:* && $COMP_WORDBREAKS == *:* ]]; then COMPREPLY=(\"${COMPREPLY[@]#\"${cur%\"${cur##*:}\"}\"}\"); fi\n"
         << "}\n"
         << "complete -o default -F _cabpack cabpack\n";
  return script.str();
}

