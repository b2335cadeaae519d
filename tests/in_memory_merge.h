// The passes of a merge run in the order of a real run, over inputs held in
// memory: for the tests and the fuzzers.
#ifndef QUORVANE_IN_MEMORY_MERGE_H
#define QUORVANE_IN_MEMORY_MERGE_H

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include "line_writer.h"
#include "reference_model.h"
#include "token_stream.h"

namespace quorvane::testing {

/// The console text from "Treatment" on and the merged file. `sink` replaces
/// the merged file's own when given; `write_error` gets the writer's result.
/// With `shadowed`, the first input is surveyed by its copy (SurveyShadow),
/// as a run into a regular file does, the survey run after it only where the
/// shadow gives up; with a `part` besides, the second input is copied into
/// it on a thread of its own meanwhile, then appended; the part is closed.
MergeResult in_memory_merge(const std::string& first, const std::string& second,
                            std::size_t block = TokenStream::kDefaultBlock,
                            std::unique_ptr<ByteSink> sink = nullptr, int* write_error = nullptr,
                            bool shadowed = false, std::FILE* part = nullptr);

}  // namespace quorvane::testing

#endif
