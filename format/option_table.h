// The package options, one row each: the option's name (also the runner's member), its key in
// the option list (a protected text), its default, and what it does (for cabpack's help).
// The runner, the packager and protgen expand it with the columns they need; the runner
// expands only names and defaults, so it holds neither keys nor meanings in plain text (the names
// it logs are protected texts too: most hold their key).
#pragma once

#define CABRUN_PACKAGE_OPTIONS(X)                                                                       \
  X(AllowExtractSwitch, "ExtractSwitch", true, "the /extract switch is honoured")                       \
  X(AllowLanguageSwitch, "LanguageSwitch", true, "the /lang= switch is honoured")                       \
  X(HideWhileRunning, "HideWindow", false, "the progress window is hidden while the payload runs")      \
  X(StartWithoutWaiting, "NoWait", false,                                                               \
    "the payload is started without waiting; its folder stays behind for it")                           \
  X(ReportBidWord, "BidWord", false, "the report carries the firmware board word")                      \
  X(ReportRomText7, "RomText", false, "the report carries the firmware ROM text")                       \
  X(ReportBidText8, "BidText", false, "the report carries the board text (8 characters)")               \
  X(ReportBidText4, "BidCode", false, "the report carries the board code (4 characters)")               \
  X(ReportFlagValue, "FlagValue", false, "the report carries the firmware on/off flag")                 \
  X(ReportPowerStatus, "PowerState", false, "the report carries the power and battery state")           \
  X(AllowQuietSwitch, "QuietSwitch", true, "the /quiet switch is honoured")                             \
  X(PassExitCode, "PassExitCode", false,                                                                \
    "the package ends with the payload's exit code when the runner waited for it")                      \
  X(RunInStartFolder, "InStartDir", false,                                                              \
    "the payload works in the folder the package was started from (unsafe for packages started from "   \
    "download folders), not in its extract folder")                                                     \
  X(ShowPayloadWindow, "PayloadWindow", false,                                                          \
    "the payload is started shown (SW_SHOWNORMAL), not hidden (SW_HIDE), so that a window of its own "  \
    "appears")                                                                                          \
  X(SkipFilePauses, "NoFilePause", false,                                                               \
    "a windowed run does not pause 0.1 s on each file it extracts; the window still shows the progress " \
    "and still cancels")
