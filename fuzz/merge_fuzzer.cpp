// A whole merge over two inputs held in memory, against the plain model of
// the passes on the C library: the first byte says where the bytes are split
// into the two inputs. Any difference in the drawing refused and its line,
// or else in the console text or the merged file, aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "in_memory_merge.h"
#include "reference_model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::size_t split = bytes.size() * data[0] / 255;
  std::string first = bytes.substr(0, split), second = bytes.substr(split);
  int error = -1;
  quorvane::testing::MergeResult got =
      quorvane::testing::in_memory_merge(first, second, data[0] % 7 + 1, nullptr, &error);
  if (error != 0) std::abort();
  quorvane::testing::MergeResult expected = quorvane::testing::reference_merge(first, second);
  if (got.refused != expected.refused || got.line != expected.line) {
    std::fprintf(stderr, "the refusal differs from the model's\n");
    std::abort();
  }
  if (expected.refused == 0 && (got.merged != expected.merged || got.console != expected.console)) {
    std::fprintf(stderr, "the merge differs from the model\n");
    std::abort();
  }
  return 0;
}
