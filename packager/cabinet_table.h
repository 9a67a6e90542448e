// What a cabinet's file table says, read from a finished cabinet (ours or another tool's), and
// the run flag set in it.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "format/cabinet.h"
#include "packager/file_span.h"

// The runner sums the files' sizes in a signed 32-bit value.
constexpr uint64_t RunnerSizeLimit = 0x80000000;

struct CabinetEntry {
  uint32_t At = 0;  // where its entry starts in the cabinet
  std::string Name;
  uint32_t Size = 0;
  uint16_t Folder = 0, Date = 0, Time = 0, Attributes = 0;
};

struct CabinetTable {
  uint32_t CabinetSize = 0;
  uint16_t Flags = 0;
  std::vector<uint16_t> FolderCompression;  // the typeCompress field of each folder
  std::vector<CabinetEntry> Files;
};

// Reads the header, folders and file table of a cabinet held in memory, or from a file (where
// only the part up to the end of the file table is read).
bool ReadCabinetTable(const std::string& cabinet, CabinetTable& table, std::string& error);
bool ReadCabinetTable(const FileSpan& cabinet, CabinetTable& table, std::string& error);

// Whether the bytes start like a cabinet (rather than a program).
bool LooksLikeCabinet(const std::string& start);

// Flags the file named `run` ('/' or '\\', any case) in the cabinet file to be run, and no other.
// The file table carries no checksum: the cabinet stays valid.
bool FlagFileToRun(const std::filesystem::path& cabinet, const std::string& run, std::string& error);

// Whether the runner can run the cabinet: one cabinet, not a set, with content below 2^31
// bytes and a file flagged to be run.
bool CheckRunnable(const CabinetTable& table, std::string& error);

std::string CompressionName(uint16_t typeCompress);
