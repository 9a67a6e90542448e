#include "packager/staged_output.h"

#include <random>
#include <sstream>

#include "packager/package_host.h"

namespace fs = std::filesystem;

TTempFile::TTempFile(const fs::path& beside, const std::string& suffix) {
  std::random_device random;
  std::ostringstream name;
  name << beside.filename().u8string() << StagingMark << std::hex << random() << suffix;
  Path = beside.parent_path() / fs::u8path(name.str());
  RemoveWhenInterrupted(Path);
}

TTempFile::~TTempFile() {
  std::error_code ec;
  if (!Kept) fs::remove(Path, ec);
  ForgetWhenInterrupted(Path);
}

void TTempFile::Keep() {
  Kept = true;
  ForgetWhenInterrupted(Path);
}

TStagedOutput::TStagedOutput(const std::string& output) : Output(output), Temp(fs::u8path(output), ".tmp") {}

TStagedOutput::~TStagedOutput() {
  if (Committed) return;
  // What a failed run made goes, the staging file first, then the folders, deepest first.
  if (File.is_open()) File.close();
  std::error_code ec;
  fs::remove(Temp.Path, ec);
  for (const fs::path& folder : MadeFolders) fs::remove(folder, ec);
}

bool TStagedOutput::Create(std::string& error) {
  // The output's folder and those above it that are missing are made (an output folder is often
  // left out of version control).
  std::error_code ec;
  for (fs::path folder = fs::u8path(Output).parent_path(); !folder.empty() && !fs::exists(folder, ec);
       folder = folder.parent_path()) {
    MadeFolders.push_back(folder);
    if (folder == folder.parent_path()) break;
  }
  for (auto made = MadeFolders.rbegin(); made != MadeFolders.rend(); ++made) {
    if (!fs::create_directory(*made, ec)) {
      error = "the folder \"" + made->u8string() + "\" cannot be made (for \"" + Output + "\")" +
              (ec ? ": " + ec.message() : std::string());
      MadeFolders.erase(MadeFolders.begin(), made.base());  // those not made
      return false;
    }
  }
  File.open(Temp.Path, std::ios::binary | std::ios::trunc);
  if (!File) error = "cannot write \"" + Output + "\"";
  return bool(File);
}

bool TStagedOutput::Close(std::string& error) {
  if (File.is_open()) File.close();
  if (!File) error = "cannot write \"" + Output + "\"";
  return bool(File);
}

bool TStagedOutput::Commit(std::string& error) {
  if (File.is_open()) File.close();
  std::error_code ec;
  if (File) fs::rename(Temp.Path, fs::u8path(Output), ec);
  if (!File || ec) {
    error = "cannot write \"" + Output + "\"" + (ec ? ": " + ec.message() : std::string());
    return false;
  }
  Temp.Keep();
  Committed = true;
  return true;
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (fs::equivalent(a, b, ec)) return true;
  return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec) && !ec;
}
