#include "packager/pack.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "format/package_resources.h"
#include "packager/cabinet_table.h"
#include "packager/icon_resource.h"
#include "packager/package_options.h"
#include "packager/package_host.h"
#include "packager/pe_resources.h"
#include "packager/read_package.h"
#include "packager/signing.h"
#include "packager/source_folder.h"
#include "packager/staged_output.h"
#include "packager/text.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t MaxIconFile = 16 << 20;

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

// What the user may not expect of the source folder: what is left out, what goes in unawares, and
// a payload whose window the runner hides.
void TellAboutSource(const Settings& s, const SourceReport& report, std::ostream& err) {
  for (const std::string& skipped : report.Skipped) err << "cabpack: " << skipped << "\n";
  if (!report.Packages.empty()) {
    std::vector<std::string> quoted;
    for (const std::string& name : report.Packages) quoted.push_back("\"" + name + "\"");
    bool one = quoted.size() == 1;
    err << "cabpack: warning: " << Enumerated(quoted)
        << (one ? " is a package made earlier (a program carrying a cabinet); it goes in like any other file unless "
                  "--exclude leaves it out\n"
                : " are packages made earlier (programs carrying a cabinet); they go in like any other file unless "
                  "--exclude leaves them out\n");
  }
  if (report.RunsGuiProgram && !OptionOn(s.Choices, &TPackageOptions::ShowPayloadWindow))
    err << "cabpack: warning: \"" << s.Run << "\" is a GUI program and ShowPayloadWindow is off: the runner starts "
        << "it hidden, so its window will not show, only its message boxes (--on ShowPayloadWindow shows it)\n";
}

// The cabinet to embed, made from the source folder or taken from --cab (in `staged` when its run
// flag is set here), checked that the runner can run it. `stagedOutput` is where the package is
// being written.
// Stages the cabinet; digests gets the SHA-256 of each file in the cabinet's order (DigestSize bytes each)
// when cabpack packs the files itself, and stays empty for a cabinet given with --cab.
bool StageCabinet(const Settings& s, const fs::path& stagedOutput, const fs::path& staged, FileSpan& cabinet,
                  std::string& digests, PackStats& stats, std::ostream& err, Failure& failure) {
  std::string error;
  if (!s.Cab.empty()) {
    if (!WholeFileSpan(fs::u8path(s.Cab), cabinet)) {
      failure.Message = "cannot read the cabinet \"" + s.Cab + "\": " + UnreadableReason(fs::u8path(s.Cab));
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
    source.OwnStaging = {stagedOutput.u8string(), staged.u8string()};
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
    if (!s.Quiet) TellAboutSource(s, report, err);
    stats.Excluded = report.Excluded;
    CabOptions options;
    options.Compression = s.Compression;
    options.LzxWindowBits = s.LzxWindowBits;
    options.LzxParsing = s.LzxParsing;
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
      failure.Message = "cannot read the icon \"" + s.Icon + "\": " +
                        (tooLarge ? "over 16 MB" : UnreadableReason(fs::u8path(s.Icon)));
      return false;
    }
    if (!ApplyIcon(items, ico, error)) {
      failure.Message = "the icon \"" + s.Icon + "\": " + error;
      return false;
    }
  }
  VersionResult version = s.Version.Empty() ? VersionResult::Applied : ApplyVersion(items, s.Version, error);
  if (version != VersionResult::Applied) {
    failure = {error, version == VersionResult::BadValue ? 2 : 1};
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

}  // namespace

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
  SignatureFacts signature = ReadSignature(image);
  if (signature.Present && !s.Quiet)
    err << "cabpack: the stub \"" << stub.u8string() << "\" is signed"
        << (signature.Signer.empty() ? "" : " by \"" + signature.Signer + "\"")
        << "; the signature is dropped: it cannot stay valid once the resources change"
        << (s.SignCommand.empty() ? "; sign the package again (--sign-command)" : "") << "\n";
  TStagedOutput output(s.Output);
  TTempFile staged(outputPath, ".cab");
  FileSpan cabinet;
  std::string digests;
  if (!output.Create(failure.Message) ||
      !StageCabinet(s, output.StagedPath(), staged.Path, cabinet, digests, stats, err, failure))
    return false;
  PutRcData(items, CabinetResource, cabinet);
  PutRcData(items, OptionsResource, BuildOptionList(s.Choices, s.Arguments, s.Title));
  // A package made again from one with digests keeps none that do not belong to its cabinet.
  if (digests.empty())
    RemoveRcData(items, DigestsResource);
  else
    PutRcData(items, DigestsResource, digests);
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
  if (!s.SignCommand.empty()) {
    // Signing is the last step: whatever the tool does happens to the staged file, never to the output.
    std::error_code ec;
    if (!output.Close(failure.Message) ||
        !SignStaged(s.SignCommand, fs::u8path(s.SignFolder), output.StagedPath(), outputPath, failure.Message))
      return false;
    if (Interrupted()) {
      failure = {"interrupted", 130};
      return false;
    }
    stats.BytesOut = fs::file_size(output.StagedPath(), ec);
  }
  return output.Commit(failure.Message);
}
