// Each read of a sequence, as the token reader does it and as the C library's
// fscanf does it over the same bytes: for the tests and the fuzzer that hold
// one against the other. Reads are 's' ("%s"), 'd' ("%d") and 'f' ("%lf").
#ifndef QUORVANE_READ_OUTCOMES_H
#define QUORVANE_READ_OUTCOMES_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "reference_model.h"
#include "token_stream.h"

namespace quorvane::testing {

// What one conversion gave: success, the value, and where the stream stands after it.
struct Outcome {
  char kind;
  bool ok;
  std::string text;
  std::int32_t integer;
  double real;
  long position;
  bool eof;
  // Equal values; two NaNs count as equal.
  bool operator==(const Outcome& o) const {
    return kind == o.kind && ok == o.ok && text == o.text && integer == o.integer &&
           (real == o.real || (real != real && o.real != o.real)) && position == o.position &&
           eof == o.eof;
  }
};

inline std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  return os << o.kind << " ok=" << o.ok << " text=[" << o.text << "] int=" << o.integer
            << " real=" << o.real << " pos=" << o.position << " eof=" << o.eof;
}

// The C library's fscanf over the same bytes: the reference.
inline std::vector<Outcome> with_fscanf(const std::string& input, const std::string& ops) {
  std::vector<Outcome> outcomes;
  // Ctrl-Z or NUL ends the input.
  std::string bytes = input.substr(0, input.find_first_of(std::string("\x1a\0", 2)));
  std::FILE* file = fmemopen(bytes.data(), bytes.size(), "r");
  std::string text = "start";
  std::int32_t integer = -7;
  double real = -7.5;
  std::vector<char> word(bytes.size() + 1);
  for (char op : ops) {
    bool ok;
    if (op == 's') {
      ok = std::fscanf(file, "%s", word.data()) == 1;
      if (ok) text = word.data();
    } else if (op == 'd') {
      ok = read_int(file, &integer) == 1;
    } else {
      ok = read_real(file, &real) == 1;
    }
    outcomes.push_back({op, ok, text, integer, real, std::ftell(file), std::feof(file) != 0});
  }
  std::fclose(file);
  return outcomes;
}

inline std::vector<Outcome> with_stream(std::unique_ptr<TokenStream> stream,
                                        const std::string& ops) {
  std::vector<Outcome> outcomes;
  std::string text = "start";
  std::int32_t integer = -7;
  double real = -7.5;
  for (char op : ops) {
    bool ok = op == 's'   ? stream->read_string(text)
              : op == 'd' ? stream->read_int(integer)
                          : stream->read_real(real);
    outcomes.push_back(
        {op, ok, text, integer, real, static_cast<long>(stream->position()), stream->eof()});
  }
  return outcomes;
}

inline std::vector<Outcome> with_stream(const std::string& bytes, const std::string& ops,
                                        std::size_t block, bool prefetch = false) {
  return with_stream(
      std::make_unique<TokenStream>(std::make_unique<MemorySource>(bytes), block, prefetch), ops);
}

}  // namespace quorvane::testing

#endif
