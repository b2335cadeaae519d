// The token reader against the C library's fscanf, on any bytes: the first
// byte gives the number of reads, the second the block size, then one byte a
// read chooses "%s", "%d" or "%lf"; the rest is the input, which ends at its
// first Ctrl-Z or NUL byte for both. Any difference aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "read_outcomes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  std::size_t reads = data[0] % 24 + 1;
  std::size_t block = data[1] < 128 ? data[1] % 13 + 1 : 4096;
  if (size < 2 + reads) return 0;
  std::string ops;
  for (std::size_t i = 0; i < reads; ++i) ops += "sdf"[data[2 + i] % 3];
  std::string bytes(reinterpret_cast<const char*>(data) + 2 + reads, size - 2 - reads);
  auto mine = quorvane::testing::with_stream(bytes, ops, block, data[1] % 2 == 1);
  auto expected = quorvane::testing::with_fscanf(bytes, ops);
  for (std::size_t i = 0; i < reads; ++i) {
    if (!(mine[i] == expected[i])) {
      std::fprintf(stderr, "read %zu differs\n", i);
      std::abort();
    }
  }
  return 0;
}
