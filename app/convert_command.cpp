#include "convert_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "binary_groups.h"
#include "group_reader.h"
#include "interrupts.h"
#include "run.h"

namespace quorvane {

using run::check_console;
using run::check_output;
using run::console;
using run::fail;
using run::f3;

namespace {

std::unique_ptr<DrawingPairs> groups;  // the pairs of the drawing being converted

const char* changed_while_converted = ": it changed while it was being converted";


// Reads the drawing `file`, named `shown` in messages, and writes it
// converted into f3; fails the run at a fault of the drawing, a failed read,
// or a drawing that changed meanwhile. What was written, and left out.
ConvertReport convert(std::FILE* file, const std::string& shown, const ConvertOptions& options) {
  static const bool stops = (run::on_failure([] { groups.reset(); }), true);
  (void)stops;
  FileStamp stamp;
  if (!stamp_of(file, stamp)) stamp = FileStamp{};
  std::setvbuf(file, nullptr, _IONBF, 0);  // the reader reads whole blocks itself
  FileReader input(file);
  // A regular file is read ahead, on a thread of its own, beside the conversion.
  groups = std::make_unique<DrawingPairs>(input, stamp.regular);
  Converter converter(groups->pairs(), options);
  const bool whole = converter.run(*f3);
  const int read_error = groups->pairs().error();
  const Fault fault = converter.fault();
  groups.reset();  // a drawing may go on after its EOF: the reading stops here
  FileStamp now;
  if (stamp.regular && (!stamp_of(file, now) || !(now == stamp))) {
    fail("cannot read " + shown + changed_while_converted);
  }
  if (read_error != 0) fail("cannot read " + shown + ": " + std::strerror(read_error));
  if (!whole) {
    fail("cannot convert " + shown + ": line " + std::to_string(fault.line) + ": " + fault.what);
  }
  const ConvertReport& report = converter.report();
  // A second drawing that gives the merge nothing is no drawing to merge.
  if (options.kind == DrawingKind::kPlots && (options.layer ? report.from_layer : report.kept) == 0) {
    fail("cannot convert " + shown + ": " + gives_the_merge_nothing(report, options.layer));
  }
  return report;
}

ConvertOptions options_of(DrawingKind kind, const std::optional<std::string>& layer) {
  ConvertOptions options;
  options.kind = kind;
  options.layer = layer;
  return options;
}

}  // namespace

// The converted file is written as the merged file is: under a temporary
// name, put in place only when whole. Its header carries the drawing's own
// extents when they can be used; otherwise they are those of the vertices
// written, put in front of the file once it is written. Into a FIFO or a
// device the file is made in a temporary file first, then written through.
void convert_command(const Command& command) {
  const std::string& input = command.input;
  // As messages name them: a name may hold a line feed, which would break the line.
  const std::string input_shown = printable(input), output_shown = printable(command.output);
  int error = 0;
  std::FILE* file = open_input(input, /*regular_only=*/false, error);
  if (file == nullptr) fail("cannot open " + input_shown + ": " + std::strerror(error));
  const int descriptor = named_descriptor(command.output);
  if (descriptor < 0 ? same_file(command.output, input) : same_file(descriptor, input)) {
    fail("refusing to write " + output_shown + ": it is the same file as the drawing to convert, " +
         input_shown);
  }
  std::FILE* target = run::open_output(command.output, output_shown, "converted file");
  // The header may be known only at the end: a FIFO or a device, which
  // cannot be rewritten, is made in a temporary file first.
  std::FILE* spool = nullptr;
  if (!run::output.regular()) {
    spool = temporary_file();
    if (spool == nullptr) {
      fail("cannot write " + output_shown + ": no temporary file can be made for it: " +
           std::strerror(errno));
    }
  }
  f3 = std::make_unique<LineWriter>(std::make_unique<FileSink>(spool != nullptr ? spool : target),
                                    LineWriter::kDefaultCapacity,
                                    /*background=*/run::output.regular());
  const ConvertOptions options = options_of(
      command.drawing == "cn" ? DrawingKind::kContours : DrawingKind::kPlots, command.layer);
  const ConvertReport report = convert(file, input_shown, options);
  if (spool != nullptr) {
    // Written through from the temporary file, which goes when closed.
    check_output(f3->flush());
    std::vector<char> piece(1 << 20);
    if (std::fflush(spool) != 0 || std::fseek(spool, 0, SEEK_SET) != 0) {
      fail("cannot write " + output_shown + ": its temporary file cannot be read back: " +
           std::strerror(errno));
    }
    for (std::size_t n; (n = std::fread(piece.data(), 1, piece.size(), spool)) > 0;) {
      if (std::fwrite(piece.data(), 1, n, target) != n) check_output(errno != 0 ? errno : EIO);
    }
    if (std::ferror(spool)) check_output(errno != 0 ? errno : EIO);
    f3.reset();
    if (std::fclose(target) != 0) check_output(errno != 0 ? errno : EIO);
  } else {
    check_output(f3->close());
  }
  // Into standard output itself, the summary goes beside it, to standard error.
  if (descriptor == 1
#ifndef _WIN32
      || same_file(command.output, "/dev/stdout")
#endif
  ) {
    const std::string text = summary(report, options, input_shown, output_shown);
    std::fputs(text.c_str(), stderr);
  } else {
    console.write(summary(report, options, input_shown, output_shown));
    console.flush();
    check_console();
  }
  hold_interrupts_to_the_end();
  run::commit_output();
}

std::unique_ptr<TemporaryFile> convert_for_merge(std::FILE* file, const std::string& shown,
                                                 DrawingKind kind,
                                                 const std::optional<std::string>& layer) {
  auto converted = std::make_unique<TemporaryFile>();
  std::FILE* into = converted->create();
  if (into == nullptr) {
    fail("cannot convert " + shown + ": no temporary file can be made for it: " +
         std::strerror(errno));
  }
  f3 = std::make_unique<LineWriter>(std::make_unique<FileSink>(into), LineWriter::kDefaultCapacity,
                                    /*background=*/true);
  const ConvertOptions options = options_of(kind, layer);
  const ConvertReport report = convert(file, shown, options);
  if (const int error = f3->close(); error != 0) {
    fail("cannot convert " + shown + ": " + run::reason(error) +
         " in the system's temporary folder, where it is converted");
  }
  f3.reset();
  std::fclose(file);
  console.write(summary(report, options, shown, ""));
  check_console();
  return converted;
}

}  // namespace quorvane
