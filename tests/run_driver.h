// Plays the user of a package: starts it, answers its message boxes from a script, watches its
// progress window and cancels it at a chosen moment. Every wait is bounded, so a hung runner
// fails its test instead of hanging the test run.
#pragma once
#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <vector>

enum class TBoxOwner { None, ProgressWindow, Other };

struct TBoxSeen {
  std::wstring Caption;
  std::wstring Text;
  TBoxOwner Owner = TBoxOwner::None;
  UINT Type = 0;  // buttons and icon as read back from the box, as MB_ bits
};

// One look at the progress window that differed from the look before it.
struct TWindowState {
  DWORD AtMs = 0;  // since the package was started
  std::wstring Caption;
  bool Visible = false;
  bool Marquee = false;
  int Position = 0;
};

enum class TCancelMoment {
  Never,
  WhenShown,       // the window first became visible
  AfterPositions,  // the bar changed its position Positions times
  WhenMarquee,     // the bar turned into a marquee: the payload is being started
  WhenExpanded,    // the expansion is over: the flagged file (the last in the cabinet) is written
};
enum class TCancelWay { Command, EscapeKey };

struct TRunScript {
  std::vector<int> Answers;  // IDOK or IDCANCEL for each box in turn; OK once the list is used up
  TCancelMoment CancelAt = TCancelMoment::Never;
  int Positions = 1;
  DWORD CancelDelayMs = 0;  // how long after the moment the cancel is sent
  TCancelWay CancelWay = TCancelWay::Command;
  // The flagged file, the cabinet's last: the expansion is over once it is written.
  std::string FlaggedFile = "probe.exe";
  // A name in the extract folder that another program tries once to delete as soon as the
  // expansion is over, before the runner starts it.
  std::string RemoveWhenExpanded;
  DWORD TimeLimitMs = 60000;
};

struct TRunOutcome {
  bool Started = false;
  DWORD StartError = 0;  // why the runner could not be started
  bool TimedOut = false;  // the driver had to end the runner
  DWORD ExitCode = 0;
  ULONGLONG StartedAt = 0, EndedAt = 0;  // wall-clock ms, comparable with the probe's record
  std::vector<TBoxSeen> Boxes;
  std::vector<TWindowState> WindowStates;
  DWORD WindowGoneAtMs = 0;  // when the progress window was first missed after it had been seen
  bool CancelSent = false;
  bool CancelledAfterExpansion = false;  // the cancel was sent once the expansion was over
  bool Removed = false;      // RemoveWhenExpanded was deleted
  std::string ExtractFolder;  // the extract folder seen beside the temporary cabinet, if any
  std::set<std::string> ExtractedNames;  // every name seen directly in the extract folder
  SIZE_T PeakWorkingSet = 0, PeakPrivate = 0;  // of the runner, in bytes, as last seen while it ran
  SIZE_T ShownWorkingSet = 0, ShownPrivate = 0;  // the same when its window was first seen shown
};

// Starts commandLine in folder (empty: the driver's own) and plays the script until the
// process ends or the time limit runs out.
TRunOutcome DriveRun(const std::string& commandLine, const std::string& folder, const TRunScript& script);

// The maker's folder, "Morvane\Common" in the common application data.
std::string CommonWorkFolder();

// Where the runner makes its temporary cabinet and extract folder: the maker's folder where the
// runner trusts it (under Wine it does not: every folder is the process user's); else a folder of
// its own under the temp folder, which DriveRun gives the runner as its temp folder unless the
// test has pointed TEMP elsewhere.
std::string RunWorkFolder();

// Wall-clock milliseconds, on the probe's clock.
ULONGLONG WallClockMs();

// The temporary cabinets (cab*.tmp) and extract folders (_cab*.tmp) in folder.
std::vector<std::string> RunLeftovers(const std::string& folder);

// The probe's record: one map of name to value per started payload, in order.
using TProbeRecord = std::map<std::string, std::string>;
std::vector<TProbeRecord> ReadProbeRecords(const std::string& path);
