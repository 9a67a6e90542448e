// cabpack: makes a cabrun package from a folder or a cabinet, and lists packages.
#include <iostream>

#include "packager/package_cli.h"
#include "packager/package_host.h"

int main(int argc, char** argv) {
  return RunCabpack(CommandLineArguments(argc, argv), std::cout, std::cerr, ErrorIsTerminal());
}
