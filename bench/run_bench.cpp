// Helper of run_bench.sh: runs one package through the test driver (nothing answered, nothing
// cancelled) and prints one line of milliseconds since the start, and memory:
//   window-shown  marquee  payload-start  runner-end  payload-lifetime
//   peak-working-set-KB  peak-private-KB  working-set-when-shown-KB  private-when-shown-KB
// window-shown: the progress window first seen visible (the runner is up); marquee: the bar turned
// into a marquee (the launch begins).
//   run_bench PACKAGE RECORD
// RECORD is the probe payload's record file; the probe finds it through PROBE_RECORD.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/run_driver.h"

namespace {

DWORD FirstMoment(const TRunOutcome& outcome, bool marquee) {
  for (const TWindowState& state : outcome.WindowStates)
    if (marquee ? state.Marquee : state.Visible) return state.AtMs;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: run_bench PACKAGE RECORD\n");
    return 2;
  }
  DeleteFileA(argv[2]);
  SetEnvironmentVariableA("PROBE_RECORD", argv[2]);
  TRunScript script;
  script.TimeLimitMs = 600000;
  TRunOutcome outcome = DriveRun(std::string("\"") + argv[1] + "\"", std::string(), script);
  std::vector<TProbeRecord> records = ReadProbeRecords(argv[2]);
  if (!outcome.Started || outcome.TimedOut || !outcome.Boxes.empty() || records.size() != 1 ||
      !records[0].count("end")) {
    std::fprintf(stderr, "the run did not start its payload and end by itself\n");
    return 1;
  }
  ULONGLONG payloadStart = std::stoull(records[0]["Start"]), payloadEnd = std::stoull(records[0]["end"]);
  std::printf("%lu %lu %llu %llu %llu %lu %lu %lu %lu\n", FirstMoment(outcome, false), FirstMoment(outcome, true),
              payloadStart - outcome.StartedAt, outcome.EndedAt - outcome.StartedAt, payloadEnd - payloadStart,
              static_cast<unsigned long>(outcome.PeakWorkingSet / 1024),
              static_cast<unsigned long>(outcome.PeakPrivate / 1024),
              static_cast<unsigned long>(outcome.ShownWorkingSet / 1024),
              static_cast<unsigned long>(outcome.ShownPrivate / 1024));
  return 0;
}
