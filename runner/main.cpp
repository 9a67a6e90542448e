#include <windows.h>

#include "runner/run.h"
#include "runner/startup.h"
#include "sys/system.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Packages are started from download folders: no DLL may come from there.
  RestrictDllSearchToSystemFolder();
  ConfigureRun();
  RunPackage();
  return 0;
}
