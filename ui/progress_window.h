// The progress window: a modeless dialog with one bar, pumped at fixed points instead of a
// message loop. It also carries the run's one cancellation mark.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "sys/object.h"

// SetProgress modes; every mode other than the first two sets the position.
constexpr int32_t ProgressReset = 0, ProgressMarquee = 1, ProgressPosition = -1;

class TDlg : public TObject {
 public:
  // Creates the window hidden and centred, with a caption in any script.
  explicit TDlg(const std::wstring& caption);
  // No window at all, for a quiet run: every operation works and nothing shows.
  TDlg() = default;
  ~TDlg() override;

  void SetCaption(const std::wstring& text);
  bool PumpMessages();
  void CenterOnWorkArea();
  // Widens the window (never narrows it) so that the caption shows whole in the caption font, as
  // far as the work area allows, and stretches the bar with it.
  void WidenFor(const std::wstring& caption);
  void UpdateVisibility(bool changeRequest, bool visible);
  void SetProgress(int32_t value, int32_t mode);
  void ExtractionProgress(const std::string& fileName, int32_t done, int32_t total, bool& cancel);
  // With stillRunning given, a wait that ends while the program still runs leaves its process
  // handle there, for the caller to wait on and close.
  // False, starting nothing, when the command line would be longer than the platform takes.
  bool LaunchProgram(const std::string& fileName, const std::string& parameters, const std::string& directory,
                     bool wait, int32_t showCommand, HWND ownerWindow, bool elevate, HANDLE* stillRunning = nullptr);
  // The program's file, held so that nobody can change or swap it until the program has started:
  // LaunchProgram closes it then (or when the start fails).
  HANDLE HeldProgramFile = INVALID_HANDLE_VALUE;
  // Set by a wait that saw the program end.
  bool ProgramEnded = false;
  DWORD ProgramExitCode = 0;

  // Whether ExtractionProgress pauses on each file, as the window always has.
  bool FilePauses = true;
  HWND Window = nullptr;
  HWND ProgressBar = nullptr;
  bool HideRequested = false;
  bool Hidden = true;
  bool Cancelled = false;
  std::string HideMarkerFile;
};

// The one progress window; the dialog procedure reaches it only through this.
extern TDlg* ProgressWindow;

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
