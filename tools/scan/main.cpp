#include <unistd.h>

#include <iostream>

#include "platform/errors.h"
#include "scan/scan.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::cout << dupsweep::scan::usage();
    return args.empty() ? 2 : 0;
  }
  try {
    dupsweep::scan::Options options = dupsweep::scan::parseArguments(args);
    options.progress = isatty(STDERR_FILENO) && isatty(STDOUT_FILENO);
    dupsweep::scan::run(options, std::cout, std::cerr);
    return 0;
  } catch (const std::exception& e) {
    std::string message = e.what();
    for (char& c : message)
      if (c == '\n' || c == '\r') c = ' ';
    std::cerr << "dupsweep-scan: " << dupsweep::scan::escapeControls(message) << "\n";
    return 1;
  }
}
