#include <windows.h>

#include "runner/log.h"
#include "runner/run.h"
#include "runner/startup.h"
#include "runner/state.h"
#include "sys/system.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Packages are started from download folders: no DLL may come from there.
  RestrictDllSearchToSystemFolder();
  ConfigureRun();
  LogRunStart();
  RunPackage();
  LogExit(RunExitCode);
  return static_cast<int>(RunExitCode);
}
