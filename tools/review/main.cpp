#include <iostream>

#include "platform/errors.h"
#include "review/review.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::cout << dupsweep::review::usage();
    return args.empty() ? 2 : 0;
  }
  try {
    dupsweep::review::run(dupsweep::review::parseArguments(args), std::cout);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "dupsweep-review: " << dupsweep::review::failureText(e) << "\n";
    return 1;
  }
}
