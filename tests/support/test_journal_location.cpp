// Linked into every test program: deletions the tests make are journaled in the build tree
// (build/test-journal/PROGRAM.db) unless DUPSWEEP_JOURNAL is set already. Set before main, so
// before any test and any program the tests start.
#include <stdlib.h>

namespace {

const bool journalInBuildTree = [] {
  setenv("DUPSWEEP_JOURNAL", DUPSWEEP_BINARY_DIR "/test-journal/" DUPSWEEP_TEST_PROGRAM ".db", 0);
  return true;
}();

}  // namespace
