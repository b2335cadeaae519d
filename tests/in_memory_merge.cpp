#include "in_memory_merge.h"

#include <cstdio>
#include <cstdlib>

#include "console.h"
#include "merge_engine.h"

namespace quorvane::testing {

namespace {

std::unique_ptr<TokenStream> stream_of(const std::string& bytes, std::size_t block) {
  return std::make_unique<TokenStream>(std::make_unique<MemorySource>(bytes), block);
}

}  // namespace

MergeResult in_memory_merge(const std::string& first, const std::string& second, std::size_t block,
                            std::unique_ptr<ByteSink> sink, int* write_error) {
  MergeResult result;
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  {
    Console console(out, stdin);
    Extents extents;
    Working w;
    survey_pass(*stream_of(first, block), w, extents, console);
    first_report(extents, console);
    if (sink == nullptr) sink = std::make_unique<StringSink>(result.merged);
    LineWriter f3(std::move(sink), 64);
    write_header(extents, f3);
    copy_first_input(*stream_of(first, block), f3, w, console);
    if (w.fault) {
      result.refused = 1;
      result.line = w.fault.line;
    } else {
      copy_second_input(*stream_of(second, block), f3, w, console);
      if (w.fault) {
        result.refused = 2;
        result.line = w.fault.line;
      }
    }
    close_out(f3);
    int error = f3.close();
    if (write_error != nullptr) *write_error = error;
    final_report(extents, console);
    console.flush();
  }
  std::fclose(out);
  result.console.assign(text, size);
  std::free(text);
  return result;
}

}  // namespace quorvane::testing
