// cabpack: makes a cabrun package from a folder or a cabinet, and lists packages.
#include <iostream>

#include "packager/package_cli.h"

int main(int argc, char** argv) {
  return RunCabpack(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
