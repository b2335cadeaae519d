// Tells what the plain model of the merge does with two drawings: "merged",
// or "refused <drawing> <line>"; with --keywords, the merge's keywords, one a
// line, for the scripts that need them.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "keywords.h"
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
  if (argc == 2 && std::strcmp(argv[1], "--keywords") == 0) {
    for (std::string_view keyword : quorvane::kKeywords) {
      std::printf("%.*s\n", static_cast<int>(keyword.size()), keyword.data());
    }
    return 0;
  }
  if (argc != 3) {
    std::fprintf(stderr, "usage: model_cli <first.dxf> <second.dxf> | --keywords\n");
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
