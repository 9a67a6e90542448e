// Starting the payload's program through the shell, and the wait that keeps the window alive.
#include <windows.h>

#include <shellapi.h>

#include "sys/system.h"
#include "sys/wide_text.h"
#include "ui/progress_window.h"

namespace {

// Characters of a process's command line, its closing NUL included.
constexpr size_t MaxCommandLine = 32767;

// Closes a handle (the started process's, the program file's) on every way out.
class TProcessHandle {
 public:
  explicit TProcessHandle(HANDLE handle) : Handle(handle) {}
  ~TProcessHandle() { Close(); }
  void Close() {
    if (Handle) CloseHandle(Handle);
    Handle = nullptr;
  }
  HANDLE Detach() {
    HANDLE handle = Handle;
    Handle = nullptr;
    return handle;
  }
  TProcessHandle(const TProcessHandle&) = delete;
  TProcessHandle& operator=(const TProcessHandle&) = delete;
  HANDLE Handle;
};

}  // namespace

bool TDlg::LaunchProgram(const std::string& fileName, const std::string& parameters, const std::string& directory,
                         bool wait, int32_t showCommand, HWND ownerWindow, bool elevate, HANDLE* stillRunning) {
  ProgramEnded = false;
  // The program's file stays held until it has started, or has not.
  TProcessHandle heldFile(HeldProgramFile != INVALID_HANDLE_VALUE ? HeldProgramFile : nullptr);
  HeldProgramFile = INVALID_HANDLE_VALUE;
  // The program's quoted path, a blank and the parameters, with the closing NUL; the platform
  // would refuse or cut a longer one.
  std::wstring file = WidePath(fileName), line = WidePath(parameters), folder = WidePath(directory);
  if (file.size() + line.size() + 4 > MaxCommandLine) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  SHELLEXECUTEINFOW request{};
  static_assert(sizeof request == (sizeof(void*) == 4 ? 60 : 112), "the platform's record");
  UpdateVisibility(false, true);
  request.cbSize = sizeof request;
  request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT | SEE_MASK_FLAG_NO_UI;
  request.hwnd = ownerWindow;
  request.lpVerb = elevate ? L"runas" : L"open";
  request.lpFile = file.c_str();
  request.lpParameters = line.c_str();
  request.lpDirectory = folder.c_str();
  request.nShow = showCommand;
  bool ok = ShellExecuteExW(&request) != FALSE;
  DWORD error = GetLastError();
  heldFile.Close();
  SetLastError(error);
  if (ok) {
    TProcessHandle process(request.hProcess);
    // Waited on 100 ms at a time: the window keeps answering and the marker file is obeyed, and
    // the program's end is seen at once.
    while (wait && PumpMessages() && WaitForSingleObject(process.Handle, 0) == WAIT_TIMEOUT) {
      UpdateVisibility(false, true);
      WaitForSingleObject(process.Handle, 100);
    }
    // A wait given up while the program runs hands its process over to whoever cleans up after it.
    if (wait && stillRunning && WaitForSingleObject(process.Handle, 0) == WAIT_TIMEOUT) *stillRunning = process.Detach();
    ProgramEnded = wait && process.Handle && WaitForSingleObject(process.Handle, 0) == WAIT_OBJECT_0 &&
                   GetExitCodeProcess(process.Handle, &ProgramExitCode);
  }
  UpdateVisibility(false, true);
  return ok;
}
