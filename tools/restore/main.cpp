#include <iostream>

#include "platform/errors.h"
#include "restore/restore.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::cout << dupsweep::restore::usage();
    return args.empty() ? 2 : 0;
  }
  try {
    dupsweep::restore::run(dupsweep::restore::parseArguments(args), std::cout);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "dupsweep-restore: " << dupsweep::restore::failureText(e) << "\n";
    return 1;
  }
}
