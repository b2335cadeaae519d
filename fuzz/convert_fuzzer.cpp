// A conversion of arbitrary bytes: it either refuses them at a line, or
// writes a drawing that the merge takes without refusing it, as the first
// drawing (cn) or the second (ha) as the first byte says, the tool's passes and
// the plain model alike, with the same console text and merged bytes. Anything
// else aborts. The first byte also says whether an entity's vertices beyond
// the first two go to a temporary file. Binary drawings are read as binary.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "binary_groups.h"
#include "converter.h"
#include "in_memory_merge.h"
#include "reference_model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  quorvane::ConvertOptions options;
  options.kind =
      data[0] % 2 == 0 ? quorvane::DrawingKind::kContours : quorvane::DrawingKind::kPlots;
  if (data[0] % 4 == 3) options.layer = "0";
  if (data[0] % 8 >= 4) options.held_in_memory = 2;
  quorvane::MemorySource source(bytes);
  // A binary drawing is read as such, as the command reads it.
  std::unique_ptr<quorvane::GroupSource> reader;
  if (bytes.starts_with(quorvane::kBinaryDxf)) {
    reader = std::make_unique<quorvane::BinaryGroupReader>(source);
  } else {
    reader = std::make_unique<quorvane::GroupReader>(source);
  }
  quorvane::Converter converter(*reader, options);
  std::string converted;
  {
    quorvane::LineWriter out(std::make_unique<quorvane::StringSink>(converted), 4096);
    if (!converter.run(out)) {
      if (converter.fault().line == 0 || converter.fault().what.empty()) std::abort();
      return 0;
    }
    if (out.close() != 0) std::abort();
  }
  const std::string none;
  const bool first = options.kind == quorvane::DrawingKind::kContours;
  const std::string& cn = first ? converted : none;
  const std::string& ha = first ? none : converted;
  const quorvane::testing::MergeResult tool = quorvane::testing::in_memory_merge(cn, ha);
  const quorvane::testing::MergeResult model = quorvane::testing::reference_merge(cn, ha);
  if (tool.refused != 0 || model.refused != 0) {
    std::fprintf(stderr, "the merge refuses the converted drawing at line %llu (model: %llu)\n",
                 tool.line, model.line);
    std::abort();
  }
  if (tool.merged != model.merged || tool.console != model.console) {
    std::fprintf(stderr, "the merge of the converted drawing differs from the model's\n");
    std::abort();
  }
  return 0;
}
