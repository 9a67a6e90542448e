#include "runner/abandon.h"

#include <windows.h>

#include "runner/state.h"
#include "sys/paths.h"

void AbandonRun(uint32_t exitCode) {
  static bool abandoning = false;
  if (!abandoning) {
    abandoning = true;
    DeleteMadeFolders(ExtractChain);
  }
  ExitProcess(exitCode);
}
