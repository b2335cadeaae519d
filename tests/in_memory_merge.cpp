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
                            std::unique_ptr<ByteSink> sink, int* write_error, bool shadowed) {
  MergeResult result;
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  {
    Console console(out, stdin);
    Extents extents;
    Working w;
    if (sink == nullptr) sink = std::make_unique<StringSink>(result.merged);
    LineWriter f3(std::move(sink), 64);
    if (shadowed) {
      Console copying(console, [] { return false; });
      SurveyShadow shadow(console, f3);
      copy_first_input(*stream_of(first, block), f3, w, copying, &shadow);
      if (shadow.holds()) {
        extents = shadow.extents();
      } else {
        Working surveying;
        survey_pass(*stream_of(first, block), surveying, extents, console, shadow.shown());
      }
      first_report(extents, console);
      copying.release();
      if (shadow.header().empty()) {
        write_header(extents, f3);
      } else if (header_text(extents) != shadow.header()) {
        f3.replace_front(shadow.header().size(), header_text(extents));
      }
    } else {
      survey_pass(*stream_of(first, block), w, extents, console);
      first_report(extents, console);
      write_header(extents, f3);
      copy_first_input(*stream_of(first, block), f3, w, console);
    }
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
