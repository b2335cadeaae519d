// The token reader against the C library's fscanf, on any bytes: the first
// byte gives the number of reads, the second the block size, then one byte a
// read chooses "%s", "%d" or "%lf"; the rest is the input. Where they must
// agree (no NUL byte, which ends fscanf's strings early) any difference aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "reference_model.h"
#include "token_stream.h"

namespace {

struct Outcome {
  bool ok;
  std::string text;
  std::int32_t integer;
  double real;
  long position;
  bool eof;
  bool operator==(const Outcome& o) const {
    return ok == o.ok && text == o.text && integer == o.integer &&
           (real == o.real || (real != real && o.real != o.real)) && position == o.position &&
           eof == o.eof;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  std::size_t reads = data[0] % 24 + 1;
  std::size_t block = data[1] < 128 ? data[1] % 13 + 1 : 4096;
  if (size < 2 + reads) return 0;
  std::string ops;
  for (std::size_t i = 0; i < reads; ++i) ops += "sdf"[data[2 + i] % 3];
  std::string bytes(reinterpret_cast<const char*>(data) + 2 + reads, size - 2 - reads);

  quorvane::TokenStream stream(std::make_unique<quorvane::MemorySource>(bytes), block,
                               data[1] % 2 == 1);
  std::string text = "start";
  std::int32_t integer = -7;
  double real = -7.5;
  Outcome mine[24];
  for (std::size_t i = 0; i < reads; ++i) {
    bool ok = ops[i] == 's'   ? stream.read_string(text)
              : ops[i] == 'd' ? stream.read_int(integer)
                              : stream.read_real(real);
    mine[i] = {ok, text, integer, real, static_cast<long>(stream.position()), stream.eof()};
  }

  std::string held = bytes.substr(0, bytes.find('\x1a'));  // Ctrl-Z ends the input
  if (held.find('\0') != std::string::npos || held.empty()) return 0;
  std::FILE* file = fmemopen(held.data(), held.size(), "r");
  std::string word(held.size() + 1, '\0');
  text = "start";
  integer = -7;
  real = -7.5;
  for (std::size_t i = 0; i < reads; ++i) {
    bool ok;
    if (ops[i] == 's') {
      ok = std::fscanf(file, "%s", word.data()) == 1;
      if (ok) text = word.c_str();
    } else if (ops[i] == 'd') {
      ok = quorvane::testing::read_int(file, &integer) == 1;
    } else {
      ok = quorvane::testing::read_real(file, &real) == 1;
    }
    Outcome expected{ok, text, integer, real, std::ftell(file), std::feof(file) != 0};
    if (!(mine[i] == expected)) {
      std::fprintf(stderr, "read %zu (%c) differs: ok %d/%d pos %ld/%ld eof %d/%d\n", i, ops[i],
                   mine[i].ok, expected.ok, mine[i].position, expected.position, mine[i].eof,
                   expected.eof);
      std::abort();
    }
  }
  std::fclose(file);
  return 0;
}
