#include "packager/read_package.h"

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <iterator>

#include "format/cabinet.h"
#include "format/package_options.h"
#include "format/package_resources.h"
#include "format/pe.h"
#include "packager/cabinet_table.h"
#include "packager/icon_resource.h"
#include "packager/package_options.h"
#include "packager/signing.h"
#include "packager/staged_output.h"
#include "packager/text.h"
#include "packager/version_resource.h"

namespace fs = std::filesystem;

namespace {

// Windows picks among copies of a resource by the user's language, so a second cabinet (or option
// list, or digests) could be the one that runs while --list shows the first: one copy of each.
bool CheckSingleCopies(const std::vector<ResourceItem>& items, std::string& error) {
  for (const char* name : {CabinetResource, OptionsResource, DigestsResource}) {
    std::vector<const ResourceItem*> copies = RcDataCopies(items, name);
    if (copies.size() < 2) continue;
    std::string where;
    for (const ResourceItem* copy : copies)
      where += (where.empty() ? "" : ", ") + ResourceKeyText(copy->Name) + " in language " + std::to_string(copy->Language);
    error = "it carries the resource " + std::string(name) + " " + std::to_string(copies.size()) + " times (" + where +
            "); Windows would pick one by the user's language: a package holds one copy of each";
    return false;
  }
  return true;
}

}  // namespace

bool ReadPackage(const fs::path& path, const std::string& role, PeImage& image, std::vector<ResourceItem>& items,
                 Failure& failure) {
  FileSpan whole;
  if (!WholeFileSpan(path, whole)) {
    failure.Message = "cannot read " + role + " \"" + path.u8string() + "\": " + UnreadableReason(path);
    return false;
  }
  std::string error;
  if (!ReadPeImage(path, image, error) || !ReadResources(image, items, error) || !CheckSingleCopies(items, error)) {
    failure.Message = role + " \"" + path.u8string() + "\": " + error;
    return false;
  }
  return true;
}

namespace {

// What --list and --save-cab read: a plain cabinet, or a package and where its cabinet lies.
struct Opened {
  bool Plain = false;
  RunnerArch Arch = RunnerArch::X86;
  SignatureFacts Signature;
  std::vector<ResourceItem> Items;
  const ResourceItem* Cab = nullptr;
  FileSpan Cabinet;
};

bool OpenPackageOrCabinet(const std::string& path, Opened& opened, Failure& failure) {
  FileSpan whole;
  std::string start;
  if (!WholeFileSpan(fs::u8path(path), whole) || !ReadSpan(whole, 4, start)) {
    failure.Message = "cannot read \"" + path + "\": " + UnreadableReason(fs::u8path(path));
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
  opened.Signature = ReadSignature(image);
  opened.Cab = FindRcData(opened.Items, CabinetResource);
  if (opened.Cab) opened.Cabinet = opened.Cab->Place;
  return true;
}

std::string TypeText(const ResourceKey& type) {
  static const char* const names[] = {nullptr,   "cursor",  "bitmap",       "icon",    "menu",
                                       "dialog",  "string",  "font folder",  "font",    "accelerators",
                                       "RCDATA",  "message table", "cursor group", nullptr, "icon group",
                                       nullptr,   "version"};
  if (!type.Named && type.Id == PeResourceManifest) return "manifest";
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

// Whether the package is signed, and by whom when the signer's certificate can be read.
std::string SignatureText(const SignatureFacts& signature) {
  if (!signature.Present) return "none";
  std::string text = std::to_string(signature.Size) + " bytes at file offset " + std::to_string(signature.At);
  if (signature.Damaged) return text + ", not within the file (damaged)";
  return "Authenticode, " + text +
         (signature.Signer.empty() ? ", signer not readable" : ", signed by \"" + signature.Signer + "\"");
}

// The package's signature, resources and options.
void ListPackage(const std::string& path, RunnerArch arch, const SignatureFacts& signature,
                 const std::vector<ResourceItem>& items, std::ostream& out) {
  out << "Package " << path << ": " << ArchName(arch) << " runner (" << ArchFormatName(arch) << ")\n"
      << "Signature: " << SignatureText(signature) << "\n\nResources:\n";
  for (const ResourceItem& item : items)
    out << "  " << std::left << std::setw(14) << TypeText(item.Type) << std::setw(12) << ResourceKeyText(item.Name)
        << "language " << std::setw(6) << item.Language << std::right << std::setw(12) << item.Size()
        << " bytes\n";

  out << "\nOptions:\n";
  const ResourceItem* opt = FindRcData(items, OptionsResource);
  std::vector<OptionListEntry> entries = opt ? ReadOptionList(opt->Data) : std::vector<OptionListEntry>();
  for (int i = 0; i < PackageOptionCount; ++i) {
    const OptionListEntry* set = nullptr;
    for (const OptionListEntry& e : entries)
      if (e.Option == i) set = &e;  // the last entry wins, as in the runner
    bool on = set ? set->On : DefaultOptionState(i);
    out << "  " << std::left << std::setw(22) << PackageOptionTexts[i].Name << std::setw(5) << (on ? "on" : "off")
        << (set ? "(set)" : "(default)") << "\n";
  }
  const OptionListEntry* fixed = nullptr;
  for (const OptionListEntry& e : entries)
    if (e.Arguments) fixed = &e;
  out << "  " << std::left << std::setw(22) << "Arguments" << (fixed ? "\"" + ShownText(fixed->Value, true) + "\"" : "(none)")
      << "\n";
  const OptionListEntry* title = nullptr;
  for (const OptionListEntry& e : entries)
    if (e.Title) title = &e;
  out << "  " << std::left << std::setw(22) << "Title" << (title ? "\"" + ShownText(title->Value, true) + "\"" : "(none)")
      << "\n";
  for (const OptionListEntry& e : entries)
    if (e.Option < 0 && !e.Arguments && !e.Title)
      out << "  ignored entry \"" << ShownText(e.Key + (e.Key.empty() ? "" : "=") + e.Value, true) << "\"\n";
  if (!opt) out << "  (no option list: the runner's defaults apply)\n";

  for (const ResourceItem& item : items) {
    VersionFacts version;
    if (!item.Type.Named && item.Type.Id == PeResourceVersion && ReadVersion(item.Data, version)) {
      out << "\nVersion (language " << item.Language << "): file " << version.FileVersion << ", product "
          << version.ProductVersion << "\n";
      for (const auto& text : version.Strings)
        out << "  " << std::left << std::setw(20) << ShownText(text.first, true) << ShownText(text.second, true) << "\n";
    }
    if (!item.Type.Named && item.Type.Id == PeResourceGroupIcon) {
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

}  // namespace

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

bool List(const Settings& s, std::ostream& out, Failure& failure) {
  Opened opened;
  if (!OpenPackageOrCabinet(s.List, opened, failure)) return false;
  if (opened.Plain) {
    out << "Cabinet file " << s.List << "\n";
  } else {
    ListPackage(s.List, opened.Arch, opened.Signature, opened.Items, out);
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
  out << "\nCabinet: " << opened.Cabinet.Size << " bytes, " << Counted(table.Files.size(), "file") << ", " << total
      << " bytes unpacked; compression";
  for (uint16_t c : table.FolderCompression) out << " " << CompressionName(c);
  out << "\n";
  for (const CabinetEntry& e : table.Files)
    out << "  " << std::right << std::setw(12) << e.Size << "  " << DateText(e.Date, e.Time) << "  "
        << AttributeText(e.Attributes) << "  " << ShownText(e.Name, e.Attributes & CabAttributeNameIsUtf8)
        << ((e.Attributes & CabAttributeRunAfterExtraction) ? "   <- run after extraction" : "") << "\n";
  if (!CheckRunnable(table, error)) out << "Warning: " << error << ".\n";
  const ResourceItem* sums = opened.Plain ? nullptr : FindRcData(opened.Items, DigestsResource);
  if (!sums) return true;
  // In sha256sum's format, so that extracted files can be checked with `sha256sum -c`.
  out << "\nSHA-256 of each file, checked by the runner after the expansion:\n";
  if (sums->Data.size() != DigestSize * table.Files.size())
    out << "Warning: " << sums->Data.size() / DigestSize << " digests for " << table.Files.size()
        << " files; the runner will not start the payload.\n";
  for (size_t i = 0; i < table.Files.size() && DigestSize * (i + 1) <= sums->Data.size(); ++i) {
    std::string name = ShownText(table.Files[i].Name, table.Files[i].Attributes & CabAttributeNameIsUtf8);
    std::replace(name.begin(), name.end(), '\\', '/');
    out << HexText(sums->Data.substr(DigestSize * i, DigestSize)) << "  " << name << "\n";
  }
  return true;
}
