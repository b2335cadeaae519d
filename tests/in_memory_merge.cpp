#include "in_memory_merge.h"

#include <cstdio>
#include <cstdlib>

#include "console.h"
#include "merge_engine.h"
#include "passes.h"

namespace quorvane::testing {

namespace {

std::unique_ptr<TokenStream> stream_of(const std::string& bytes, std::size_t block) {
  return std::make_unique<TokenStream>(std::make_unique<MemorySource>(bytes), block);
}

// Each pass reads its input from the start; a fault is recorded, and ends the run.
class MemorySite : public PassSite {
 public:
  MemorySite(const std::string& first, const std::string& second, std::size_t block, MergeResult& result)
      : first_(first), second_(second), block_(block), result_(result) {}
  TokenStream& stream(Pass pass, bool) override {
    auto& stream = streams_[static_cast<int>(pass)];
    stream = stream_of(pass == Pass::kSecondCopy ? second_ : first_, block_);
    return *stream;
  }
  bool end_of_pass(Pass pass, const Fault& fault) override {
    if (!fault) return true;
    result_.refused = pass == Pass::kSecondCopy ? 2 : 1;
    result_.line = fault.line;
    return false;
  }

 private:
  const std::string& first_;
  const std::string& second_;
  std::size_t block_;
  MergeResult& result_;
  std::unique_ptr<TokenStream> streams_[3];
};

}  // namespace

MergeResult in_memory_merge(const std::string& first, const std::string& second, std::size_t block,
                            std::unique_ptr<ByteSink> sink, int* write_error, bool shadowed,
                            std::FILE* part) {
  MergeResult result;
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  {
    Console console(out, stdin);
    if (sink == nullptr) sink = std::make_unique<StringSink>(result.merged);
    LineWriter f3(std::move(sink), 64);
    MemorySite site(first, second, block, result);
    MergePasses passes(site, console, f3);
    passes.run(shadowed ? MergePasses::Mode::kSideBySide : MergePasses::Mode::kInTurn, part);
    passes.stop();  // a run ended at a fault of the first input leaves the second copy going
    close_out(f3);
    int error = f3.close();
    if (write_error != nullptr) *write_error = error;
    final_report(passes.extents(), console);
    console.flush();
  }
  std::fclose(out);
  result.console.assign(text, size);
  std::free(text);
  return result;
}

}  // namespace quorvane::testing
