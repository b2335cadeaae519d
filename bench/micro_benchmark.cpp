// The token reader and the line writer alone, on data held in memory.
#include <benchmark/benchmark.h>

#include <string>

#include "line_writer.h"
#include "rounding.h"
#include "token_stream.h"

namespace {

std::string vertices(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += "VERTEX\r\n  8\r\nCN1\r\n 70\r\n    32\r\n 10\r\n" + std::to_string(1000 + i % 4000) +
            ".125\r\n 20\r\n" + std::to_string(2000 + i % 3000) + ".5\r\n 30\r\n105.0\r\n  0\r\n";
  }
  return text;
}

void read_vertices(benchmark::State& state) {
  const std::string bytes = vertices(100000);
  for (auto _ : state) {
    quorvane::TokenStream in(std::make_unique<quorvane::MemorySource>(bytes));
    quorvane::Token texte;
    std::int32_t val = 0;
    double dval = 0, sum = 0;
    while (in.read_string(texte)) {
      in.read_int(val);
      in.read_string(texte);
      for (int i = 0; i < 3; ++i) in.read_int(val);
      for (int i = 0; i < 3; ++i) in.read_real(dval), in.read_int(val), sum += dval;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(read_vertices);

void read_tokens(benchmark::State& state) {
  const std::string bytes = vertices(100000);
  for (auto _ : state) {
    quorvane::TokenStream in(std::make_unique<quorvane::MemorySource>(bytes));
    quorvane::Token texte;
    std::size_t count = 0;
    while (in.read_string(texte)) ++count;
    benchmark::DoNotOptimize(count);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(read_tokens);

class NullSink : public quorvane::ByteSink {
 public:
  int write(const char*, std::size_t size) override {
    written += size;
    return 0;
  }
  std::size_t written = 0;
};

void write_vertices(benchmark::State& state) {
  std::size_t bytes = 0;
  quorvane::Token layer;
  layer.assign("CN1", "CN1" + 3);
  for (auto _ : state) {
    auto sink = std::make_unique<NullSink>();
    NullSink* counted = sink.get();
    quorvane::LineWriter out(std::move(sink));
    for (int i = 0; i < 100000; ++i) {
      out.text("VERTEX");
      out.number("  ", 8);
      out.text(layer);
      out.number(" ", 70);
      out.number("    ", 32);
      out.number(" ", 10);
      out.integral(quorvane::half_up(1000.125 + i));
      out.number(" ", 20);
      out.integral(quorvane::half_up(2000.5 + i));
      out.number(" ", 30);
      out.integral(quorvane::half_up(105.0));
      out.number("  ", 0);
    }
    out.close();
    bytes += counted->written;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(write_vertices);

}  // namespace
