// Helper of run_bench.sh: starts one package, waits for it and prints, on one line, the times
// from its start to the payload's start and to its own end, the payload's own lifetime, and the
// runner's peak memory, read while it runs (an ended process can no longer be asked).
//   run_bench PACKAGE RECORD
// RECORD is the probe payload's record file; the probe finds it through PROBE_RECORD.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "tests/run_driver.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: run_bench PACKAGE RECORD\n");
    return 2;
  }
  DeleteFileA(argv[2]);
  SetEnvironmentVariableA("PROBE_RECORD", argv[2]);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string line = std::string("\"") + argv[1] + "\"";
  ULONGLONG started = WallClockMs();
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "cannot start %s\n", argv[1]);
    return 1;
  }
  CloseHandle(process.hThread);
  SIZE_T peakWorkingSet = 0, peakPrivate = 0;
  for (;;) {
    PROCESS_MEMORY_COUNTERS counters{};
    if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters)) {
      if (counters.PeakWorkingSetSize > peakWorkingSet) peakWorkingSet = counters.PeakWorkingSetSize;
      if (counters.PeakPagefileUsage > peakPrivate) peakPrivate = counters.PeakPagefileUsage;
    }
    if (WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0) break;
  }
  ULONGLONG ended = WallClockMs();
  CloseHandle(process.hProcess);

  std::vector<TProbeRecord> records = ReadProbeRecords(argv[2]);
  if (records.size() != 1 || !records[0].count("end")) {
    std::fprintf(stderr, "the payload did not run to its end\n");
    return 1;
  }
  ULONGLONG payloadStart = std::stoull(records[0]["Start"]), payloadEnd = std::stoull(records[0]["end"]);
  std::printf("%llu %llu %llu %lu %lu\n", payloadStart - started, ended - started, payloadEnd - payloadStart,
              static_cast<unsigned long>(peakWorkingSet / 1024), static_cast<unsigned long>(peakPrivate / 1024));
  return 0;
}
