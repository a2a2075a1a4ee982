// dupsweep-demodb: writes a demonstration or load-test database in the host reporting
// system's layout. The planted cases of the demonstration database are listed at the top of
// demo_content.cpp and printed by --describe.

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "demodb.h"

int main(int argc, char** argv) {
  using namespace dupsweep::demodb;
  try {
    const DemoOptions options = parseArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
      std::cout << usageText();
      return 0;
    }
    if (options.describe) std::cout << describePlan(planDemo(options));
    if (!options.out.empty())
      std::cout << summaryLine(options.out, writeDemoDatabase(options)) << '\n';
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "dupsweep-demodb: " << e.what() << '\n';
    return 1;
  }
}
