// Benchmark helper: makes a one-file MSZIP or LZX cabinet, or expands one with TCabReader and
// prints the time taken and the process's peak memory.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "cabinet/cab_reader.h"
#include "packager/cab_writer.h"

namespace {

int MakeCabinet(const std::string& source, const std::string& cabinet, CabCompression compression) {
  CabOptions options;
  options.Compression = compression;
  CabFile file;
  file.Name = "big.bin";
  file.SourcePath = source;
  file.Attributes = 0x20;
  std::string error;
  if (!WriteCabinet({file}, options, cabinet, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}

// The cabinet is mapped, as the runner's own resource is mapped with its image.
int ExpandCabinet(const std::string& path, const std::string& folder) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  const void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
  TCabinetImage cabinet{static_cast<const uint8_t*>(view), GetFileSize(file, nullptr)};
  TCabReader reader;
  bool expanded = view && reader.CheckCabinet(cabinet) > 0 && reader.Expand(cabinet, folder);
  if (view) UnmapViewOfFile(view);
  if (mapping) CloseHandle(mapping);
  CloseHandle(file);
  QueryPerformanceCounter(&end);
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  std::printf("expanded=%d bytes=%ld ms=%.0f peak_working_set_kb=%lu peak_private_kb=%lu\n", expanded,
              static_cast<long>(reader.TotalBytes), 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart,
              static_cast<unsigned long>(memory.PeakWorkingSetSize / 1024),
              static_cast<unsigned long>(memory.PeakPagefileUsage / 1024));
  return expanded ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc == 4 || argc == 5 ? argv[1] : "";
  if (mode == "make") {
    std::string compression = argc == 5 ? argv[4] : "mszip";
    if (compression == "mszip" || compression == "lzx")
      return MakeCabinet(argv[2], argv[3], compression == "lzx" ? CabCompression::Lzx : CabCompression::Mszip);
  }
  if (mode == "expand" && argc == 4) return ExpandCabinet(argv[2], argv[3]);
  std::fprintf(stderr, "usage: expand_bench make SOURCE CABINET [mszip|lzx] | expand CABINET FOLDER\n");
  return 2;
}
