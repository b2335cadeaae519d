// Tells what the plain model of the merge does with two drawings: "merged",
// or "refused <drawing> <line>".
#include <cstdio>
#include <fstream>
#include <sstream>

#include "reference_model.h"

namespace {

std::string bytes_of(const char* path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: model_cli <first.dxf> <second.dxf>\n");
    return 2;
  }
  quorvane::testing::MergeResult r =
      quorvane::testing::reference_merge(bytes_of(argv[1]), bytes_of(argv[2]));
  if (r.refused == 0) {
    std::printf("merged\n");
  } else {
    std::printf("refused %d %llu\n", r.refused, r.line);
  }
  return 0;
}
