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

bool TStagedOutput::Create(std::string& error) {
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
  return true;
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (fs::equivalent(a, b, ec)) return true;
  return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec) && !ec;
}
