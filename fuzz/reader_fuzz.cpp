// libFuzzer target: the reader loop and the seek scan over one recording held in a memory
// file, every result checked against the bytes (see reader_checks.h). A failed check aborts,
// so libFuzzer keeps the input.
#include <cstdio>
#include <cstdlib>

#include "fuzz/reader_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string failure = readerchecks::CheckReaderOn(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "reader check failed: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
