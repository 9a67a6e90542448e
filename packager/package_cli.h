// The packager's command line: packing, re-packing and listing packages.
#pragma once
#include <ostream>
#include <string>
#include <vector>

// Runs cabpack with `args` (without the program name, UTF-8). Returns the exit code:
// 0 done, 1 failed (nothing left behind), 2 usage error, 130 interrupted. `showProgress`: stderr
// is a terminal, where a progress line may be drawn.
int RunCabpack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress = false);
