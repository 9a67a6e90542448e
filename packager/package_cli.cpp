#include "packager/package_cli.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <optional>
#include <random>
#include <sstream>

#include "runner/options.h"
#include "packager/package_cabinet.h"
#include "packager/package_host.h"
#include "packager/package_options.h"
#include "packager/pe_resources.h"

namespace fs = std::filesystem;

namespace {

const char* const Usage =
    "usage: cabpack --source DIR --run RELPATH [--on OPTION]... [--off OPTION]... [--arguments TEXT]\n"
    "               [--compression none|mszip] [--codepage N] [--stub cabrun.exe] -o OUT.exe\n"
    "       cabpack --cab FILE.cab [--on OPTION]... [--off OPTION]... [--arguments TEXT]\n"
    "               [--stub cabrun.exe] -o OUT.exe\n"
    "       cabpack --list PACKAGE.exe\n"
    "       cabpack --save-cab PACKAGE.exe -o OUT.cab\n";

struct Settings {
  std::string Source, Run, Cab, List, SaveCab, Stub, Output;
  std::vector<OptionChoice> Choices;
  std::optional<std::string> Arguments;
  CabCompression Compression = CabCompression::Mszip;
  int CodePage = 0;
};

// A failure that ends the run: the message (without the "cabpack: " prefix) and the exit code.
struct Failure {
  std::string Message;
  int Code = 1;
};

bool ReadWholeFile(const fs::path& path, std::string& bytes) {
  std::error_code ec;
  uintmax_t size = fs::file_size(path, ec);
  std::ifstream in(path, std::ios::binary);
  if (ec || !in) return false;
  bytes.resize(size_t(size));
  return bool(in.read(&bytes[0], std::streamsize(size)));
}

// A file that is removed when it goes out of scope unless Keep() was called.
class TTempFile {
 public:
  explicit TTempFile(const fs::path& beside, const std::string& suffix) {
    std::random_device random;
    std::ostringstream name;
    name << beside.filename().string() << ".cabpack-" << std::hex << random() << suffix;
    Path = beside.parent_path() / name.str();
  }
  ~TTempFile() {
    std::error_code ec;
    if (!Kept) fs::remove(Path, ec);
  }
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;
  void Keep() { Kept = true; }
  fs::path Path;

 private:
  bool Kept = false;
};

// The output is staged in a temporary file beside it and renamed into place at the end, so a
// failure never leaves half a file. Creating it first finds an unwritable output before any work.
class TStagedOutput {
 public:
  explicit TStagedOutput(const std::string& output) : Output(output), Temp(output, ".tmp") {}

  bool Create(std::string& error) {
    File.open(Temp.Path, std::ios::binary | std::ios::trunc);
    if (!File) error = "cannot write \"" + Output + "\"";
    return bool(File);
  }

  bool Commit(const std::string& bytes, std::string& error) {
    File.write(bytes.data(), std::streamsize(bytes.size()));
    File.close();
    std::error_code ec;
    if (File) fs::rename(Temp.Path, Output, ec);
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

bool ParseArguments(const std::vector<std::string>& args, Settings& s, Failure& failure) {
  failure.Code = 2;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= args.size()) {
        failure.Message = a + " needs a value";
        return false;
      }
      into = args[++i];
      return true;
    };
    std::string v;
    if (a == "--source") {
      if (!value(s.Source)) return false;
    } else if (a == "--run") {
      if (!value(s.Run)) return false;
    } else if (a == "--cab") {
      if (!value(s.Cab)) return false;
    } else if (a == "--list") {
      if (!value(s.List)) return false;
    } else if (a == "--save-cab") {
      if (!value(s.SaveCab)) return false;
    } else if (a == "--stub") {
      if (!value(s.Stub)) return false;
    } else if (a == "-o" || a == "--output") {
      if (!value(s.Output)) return false;
    } else if (a == "--on" || a == "--off") {
      if (!value(v)) return false;
      int option = FindPackageOption(v);
      if (option < 0) {
        failure.Message = "unknown option \"" + v + "\"; the options are:";
        for (const char* name : PackageOptionNames) failure.Message += std::string(" ") + name;
        return false;
      }
      s.Choices.push_back({option, a == "--on"});
    } else if (a == "--arguments") {
      if (!value(v)) return false;
      s.Arguments = v;
    } else if (a == "--compression") {
      if (!value(v)) return false;
      if (v == "none") {
        s.Compression = CabCompression::None;
      } else if (v == "mszip") {
        s.Compression = CabCompression::Mszip;
      } else {
        failure.Message = "--compression takes none or mszip, not \"" + v + "\"";
        return false;
      }
    } else if (a == "--codepage") {
      if (!value(v)) return false;
      char* end = nullptr;
      long n = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || n <= 0 || n > 65535) {
        failure.Message = "--codepage takes a code page number such as 932 or 1252, not \"" + v + "\"";
        return false;
      }
      s.CodePage = int(n);
    } else {
      failure.Message = "unknown argument \"" + a + "\"";
      return false;
    }
  }
  int modes = !s.Source.empty() + !s.Cab.empty() + !s.List.empty() + !s.SaveCab.empty();
  if (modes != 1)
    failure.Message = "give exactly one of --source, --cab, --list and --save-cab";
  else if (!s.List.empty() && (!s.Output.empty() || !s.Stub.empty() || !s.Choices.empty() || s.Arguments))
    failure.Message = "--list takes only the package";
  else if (s.List.empty() && s.Output.empty())
    failure.Message = "name the output with -o";
  else if (!s.Source.empty() && s.Run.empty())
    failure.Message = "--source needs --run RELPATH, the file to run after extraction";
  else if (s.Source.empty() && (!s.Run.empty() || s.CodePage != 0))
    failure.Message = "--run and --codepage go with --source";
  else if (!s.SaveCab.empty() && (!s.Stub.empty() || !s.Choices.empty() || s.Arguments))
    failure.Message = "--save-cab takes only the package and -o";
  else
    return true;
  return false;
}

// Reads a program's resources; `role` names it in messages ("the stub", "the package").
bool ReadPackage(const std::string& path, const std::string& role, PeImage& image, std::vector<ResourceItem>& items,
                 Failure& failure) {
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) {
    failure.Message = "cannot read " + role + " \"" + path + "\"";
    return false;
  }
  std::string error;
  if (!ReadPeImage(bytes, image, error) || !ReadResources(image, items, error)) {
    failure.Message = role + " \"" + path + "\": " + error;
    return false;
  }
  return true;
}

// The cabinet's bytes: the given one unchanged, or one made from the source folder.
bool MakeCabinet(const Settings& s, std::string& cabinet, Failure& failure) {
  std::string error;
  if (!s.Cab.empty()) {
    if (!ReadWholeFile(s.Cab, cabinet)) {
      failure.Message = "cannot read the cabinet \"" + s.Cab + "\"";
      return false;
    }
  } else {
    SourceSettings source;
    source.Folder = s.Source;
    source.RunPath = s.Run;
    source.CodePage = s.CodePage;
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
    if (!CollectSourceFiles(source, files, error)) {
      failure.Message = error;
      return false;
    }
    CabOptions options;
    options.Compression = s.Compression;
    TTempFile temp(fs::path(s.Output), ".cab");
    if (!WriteCabinet(files, options, temp.Path.string(), error) || !ReadWholeFile(temp.Path, cabinet)) {
      failure.Message = error.empty() ? "cannot read back the cabinet" : error;
      return false;
    }
  }
  CabinetTable table;
  if (!ReadCabinetTable(cabinet, table, error) || !CheckRunnable(table, error)) {
    failure.Message = "\"" + (s.Cab.empty() ? std::string("the new cabinet") : s.Cab) + "\": " + error;
    return false;
  }
  return true;
}

bool Pack(const Settings& s, Failure& failure) {
  fs::path stub = s.Stub.empty() ? OwnExecutablePath().parent_path() / "cabrun.exe" : fs::path(s.Stub);
  if (SameFile(stub, s.Output) || (!s.Cab.empty() && SameFile(s.Cab, s.Output))) {
    failure.Message = "the output \"" + s.Output + "\" would overwrite its own input";
    return false;
  }
  PeImage image;
  std::vector<ResourceItem> items;
  if (!ReadPackage(stub.string(), "the stub", image, items, failure)) return false;
  TStagedOutput output(s.Output);
  std::string cabinet, package, error;
  if (!output.Create(failure.Message) || !MakeCabinet(s, cabinet, failure)) return false;
  PutRcData(items, "CAB", cabinet);
  PutRcData(items, "OPT", BuildOptionList(s.Choices, s.Arguments));
  if (!RebuildResources(image, items, package, error)) {
    failure.Message = "the stub \"" + stub.string() + "\": " + error;
    return false;
  }
  if (!output.Commit(package, failure.Message)) return false;
  return true;
}

bool SaveCabinet(const Settings& s, Failure& failure) {
  PeImage image;
  std::vector<ResourceItem> items;
  if (!ReadPackage(s.SaveCab, "the package", image, items, failure)) return false;
  const ResourceItem* cab = FindRcData(items, "CAB");
  if (!cab) {
    failure.Message = "\"" + s.SaveCab + "\" carries no cabinet";
    return false;
  }
  if (SameFile(s.SaveCab, s.Output)) {
    failure.Message = "the output \"" + s.Output + "\" would overwrite its own input";
    return false;
  }
  TStagedOutput output(s.Output);
  return output.Create(failure.Message) && output.Commit(cab->Data, failure.Message);
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

bool List(const Settings& s, std::ostream& out, Failure& failure) {
  PeImage image;
  std::vector<ResourceItem> items;
  if (!ReadPackage(s.List, "the package", image, items, failure)) return false;
  out << "Package " << s.List << "\n\nResources:\n";
  for (const ResourceItem& item : items)
    out << "  " << std::left << std::setw(14) << TypeText(item.Type) << std::setw(12) << ResourceKeyText(item.Name)
        << "language " << std::setw(6) << item.Language << std::right << std::setw(12) << item.Data.size()
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
        << (set ? "(" + set->Key + "=" + set->Value + ")" : std::string("(default)")) << "\n";
  }
  const OptionListEntry* fixed = nullptr;
  for (const OptionListEntry& e : entries)
    if (e.Arguments) fixed = &e;
  out << "  " << std::left << std::setw(22) << "Arguments" << (fixed ? "\"" + fixed->Value + "\"" : "(none)") << "\n";
  for (const OptionListEntry& e : entries)
    if (e.Option < 0 && !e.Arguments)
      out << "  ignored entry \"" << e.Key << (e.Key.empty() ? "" : "=") << e.Value << "\"\n";
  if (!opt) out << "  (no option list: the runner's defaults apply)\n";

  const ResourceItem* cab = FindRcData(items, "CAB");
  if (!cab) {
    out << "\nNo cabinet.\n";
    return true;
  }
  CabinetTable table;
  std::string error;
  if (!ReadCabinetTable(cab->Data, table, error)) {
    failure.Message = "\"" + s.List + "\": " + error;
    return false;
  }
  uint64_t total = 0;
  for (const CabinetEntry& e : table.Files) total += e.Size;
  out << "\nCabinet: " << cab->Data.size() << " bytes, " << table.Files.size() << " files, " << total
      << " bytes unpacked; compression";
  for (uint16_t c : table.FolderCompression) out << " " << CompressionName(c);
  out << "\n";
  for (const CabinetEntry& e : table.Files)
    out << "  " << std::right << std::setw(12) << e.Size << "  " << DateText(e.Date, e.Time) << "  "
        << AttributeText(e.Attributes) << "  " << e.Name
        << ((e.Attributes & RunAfterExtraction) ? "   <- run after extraction" : "") << "\n";
  if (!CheckRunnable(table, error)) out << "Warning: " << error << ".\n";
  return true;
}

}  // namespace

int RunCabpack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty() || (args.size() == 1 && (args[0] == "--help" || args[0] == "-h"))) {
    (args.empty() ? err : out) << Usage;
    return args.empty() ? 2 : 0;
  }
  Settings settings;
  Failure failure;
  bool ok = ParseArguments(args, settings, failure);
  if (ok) {
    failure.Code = 1;
    if (!settings.List.empty())
      ok = List(settings, out, failure);
    else if (!settings.SaveCab.empty())
      ok = SaveCabinet(settings, failure);
    else
      ok = Pack(settings, failure);
  }
  if (ok) return 0;
  err << "cabpack: " << failure.Message << "\n";
  if (failure.Code == 2) err << Usage;
  return failure.Code;
}
