// Output written beside its final place and renamed there at the end, so that a failure never
// leaves half a file.
#pragma once
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

// cabpack stages its output as "<output name>.cabpack-<hex>.tmp" (and ".cab") beside it.
constexpr const char* StagingMark = ".cabpack-";

// A file that is removed when it goes out of scope, or the run is interrupted, unless Keep()
// was called. Named "<beside's name>.cabpack-<hex><suffix>" in beside's folder.
class TTempFile {
 public:
  TTempFile(const std::filesystem::path& beside, const std::string& suffix);
  ~TTempFile();
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;
  void Keep();
  std::filesystem::path Path;

 private:
  bool Kept = false;
};

// The output is staged in a temporary file beside it and renamed into place at the end.
// Creating it first finds an unwritable output before any work. Closed, it can be worked on as a
// file (signed) before Commit. Without Commit, nothing it made stays: the staging file, nor the
// output's folders that Create made.
class TStagedOutput {
 public:
  explicit TStagedOutput(const std::string& output);
  ~TStagedOutput();
  TStagedOutput(const TStagedOutput&) = delete;
  TStagedOutput& operator=(const TStagedOutput&) = delete;
  bool Create(std::string& error);
  std::ostream& Stream() { return File; }
  bool Close(std::string& error);
  const std::filesystem::path& StagedPath() const { return Temp.Path; }
  bool Commit(std::string& error);

 private:
  std::string Output;
  std::vector<std::filesystem::path> MadeFolders;  // deepest first
  TTempFile Temp;
  std::ofstream File;
  bool Committed = false;
};

// Whether two paths name the same file (also one that does not exist yet).
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);
