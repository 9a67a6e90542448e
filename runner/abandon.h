// The end of a run that cannot go on and has no exception to unwind with: memory ran out,
// or the C++ library found a fault in the program.
#pragma once
#include <cstdint>

// Removes the temporary cabinet and the extract folder, where the run has made them, and ends
// the process with exitCode, showing nothing. When the removal itself cannot allocate, the
// process ends at once.
[[noreturn]] void AbandonRun(uint32_t exitCode);
