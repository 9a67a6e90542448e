// How much processor time the runner's wait for the payload costs: shows the window in
// marquee mode, starts PROGRAM (which lingers 10 s) and waits for it as the runner does, then
// prints the wall time and this process's CPU time. Usage: window_wait_cpu PROGRAM FOLDER
#include <windows.h>

#include <cstdio>

#include "ui/progress_window.h"

namespace {

// User plus kernel time of this process, in milliseconds.
double CpuMilliseconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto ms = [](const FILETIME& t) { return ((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0; };
  return ms(kernel) + ms(user);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: window_wait_cpu PROGRAM FOLDER\n");
    return 2;
  }
  TDlg dialog(L"Executing....");
  ProgressWindow = &dialog;
  dialog.UpdateVisibility(true, true);
  dialog.SetProgress(100, ProgressMarquee);

  double cpuBefore = CpuMilliseconds();
  DWORD start = GetTickCount();
  bool ok = dialog.LaunchProgram(argv[1], "linger=10000", argv[2], true, SW_HIDE, dialog.Window, false);
  DWORD wall = GetTickCount() - start;
  double cpu = CpuMilliseconds() - cpuBefore;
  dialog.SetProgress(0, ProgressReset);
  if (!ok) {
    std::fprintf(stderr, "the program could not be started\n");
    return 1;
  }
  std::printf("wait: %lu ms wall, %.1f ms CPU in the runner (%.2f%% of one core)\n",
              static_cast<unsigned long>(wall), cpu, wall ? 100.0 * cpu / wall : 0.0);
  return 0;
}
