#include "preview_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "binary_groups.h"
#include "files.h"
#include "interrupts.h"
#include "output_file.h"
#include "preview.h"
#include "run.h"

namespace quorvane {

namespace {

// One reading of a drawing, saved as text or binary: its file, and the
// pairs read from it, ahead on a thread of their own.
class Reading : public GroupSource {
 public:
  explicit Reading(std::FILE* file) : file_(file), source_(file) {
    std::setvbuf(file_, nullptr, _IONBF, 0);  // the reader reads whole blocks itself
    pairs_ = std::make_unique<DrawingPairs>(source_, /*ahead=*/true);
  }
  ~Reading() override {
    pairs_.reset();
    std::fclose(file_);
  }
  Reading(const Reading&) = delete;
  Reading& operator=(const Reading&) = delete;
  bool next(Group& group) override { return pairs_->pairs().next(group); }
  const Fault& fault() const override { return pairs_->pairs().fault(); }
  int error() const override { return pairs_->pairs().error(); }
  std::uint64_t line() const override { return pairs_->pairs().line(); }

 private:
  std::FILE* file_;
  FileReader source_;
  std::unique_ptr<DrawingPairs> pairs_;
};

// A reading that fails at once: the drawing could not be opened again.
class Unreadable : public GroupSource {
 public:
  explicit Unreadable(int error) : error_(error) {}
  bool next(Group&) override { return false; }
  const Fault& fault() const override { return fault_; }
  int error() const override { return error_; }
  std::uint64_t line() const override { return 1; }

 private:
  Fault fault_;
  int error_;
};

// Draws the drawing `host`, named `shown`, into `picture`; what it shows.
PreviewFacts draw(const std::string& host, const std::string& shown, const std::string& picture,
                  int width) {
  using run::fail;
  int error = 0;
  std::FILE* file = open_input(host, /*regular_only=*/false, error);
  if (file == nullptr) fail("cannot open " + shown + ": " + std::strerror(error));
  FileStamp stamp;
  if (!stamp_of(file, stamp)) stamp = FileStamp{};
  // A drawing that cannot be read again (a FIFO) is kept in a temporary file first.
  std::unique_ptr<TemporaryFile> kept;
  if (!stamp.regular) {
    kept = std::make_unique<TemporaryFile>();
    std::FILE* copy = kept->create();
    if (copy == nullptr) {
      fail("cannot read " + shown + ": no temporary file can be made for it: " + std::strerror(errno));
    }
    std::vector<char> block(std::size_t{1} << 20);
    for (std::size_t n; (n = std::fread(block.data(), 1, block.size(), file)) > 0;) {
      if (std::fwrite(block.data(), 1, n, copy) != n) {
        fail("cannot read " + shown + ": its temporary file cannot be written: " +
             run::reason(errno != 0 ? errno : EIO));
      }
    }
    if (std::ferror(file)) fail("cannot read " + shown + ": " + std::strerror(errno != 0 ? errno : EIO));
    if (std::fclose(copy) != 0) {
      fail("cannot read " + shown + ": its temporary file cannot be written: " +
           run::reason(errno != 0 ? errno : EIO));
    }
  }
  // Each reading must be of the drawing as it was: read again, it is reopened.
  const char* changed = ": it changed while it was being drawn";
  bool first = true;
  auto read = [&]() -> std::unique_ptr<GroupSource> {
    std::FILE* reading = first && !kept ? file : nullptr;
    first = false;
    if (reading == nullptr) {
      int again = 0;
      reading = kept ? kept->open_reading() : open_input(host, /*regular_only=*/false, again);
      if (reading == nullptr) {
        return std::make_unique<Unreadable>(kept ? (errno != 0 ? errno : EIO) : again);
      }
      FileStamp now;
      if (!kept && (!stamp_of(reading, now) || !(now == stamp))) fail("cannot read " + shown + changed);
    }
    return std::make_unique<Reading>(reading);
  };
  if (kept) std::fclose(file);
  // Never over the drawing itself, through a link or a descriptor either.
  const int descriptor = named_descriptor(picture);
  if (descriptor >= 0 ? same_file(descriptor, host) : same_file(picture, host)) {
    fail("refusing to write " + printable(picture) + ": it is the same file as the drawing it shows, " +
         shown);
  }
  std::FILE* target = run::open_output(picture, printable(picture), "picture");
  run::f3 = std::make_unique<LineWriter>(
      std::make_unique<FileSink>(target, /*through=*/!run::output.regular()),
      LineWriter::kDefaultCapacity, /*background=*/run::output.regular());
  PreviewOptions options;
  options.width = width;
  PreviewFacts facts;
  Fault fault;
  const std::string name = host.substr(host.find_last_of("/\\") + 1);
  if (!draw_preview(read, name, options, *run::f3, facts, fault, error)) {
    if (fault) fail("cannot draw " + shown + ": line " + std::to_string(fault.line) + ": " + fault.what);
    fail("cannot read " + shown + ": " + std::strerror(error != 0 ? error : EIO));
  }
  if (FileStamp now; !kept && (!stamp_of_path(host, now) || !(now == stamp))) {
    fail("cannot read " + shown + changed);
  }
  if (const int failed = run::f3->close(); failed != 0) {
    fail("cannot write " + printable(picture) + ": " + run::reason(failed));
  }
  run::f3.reset();
  hold_interrupts_to_the_end();
  run::commit_output();
  return facts;
}

}  // namespace

void preview_command(const Command& command) {
  const std::string shown = printable(command.input);
  const PreviewFacts facts = draw(command.input, shown, command.output, command.width);
  const std::string line = printable(command.output) + ": a picture of " + shown + ", " +
                           std::to_string(facts.polylines) +
                           (facts.polylines == 1 ? " polyline, " : " polylines, ") +
                           std::to_string(facts.vertices) +
                           (facts.vertices == 1 ? " vertex\n" : " vertices\n");
  // Into standard output itself, the line goes beside it, to standard error.
  if (named_descriptor(command.output) == 1) {
    std::fputs(line.c_str(), stderr);
  } else {
    run::console.write(line);
    run::console.flush();
    run::check_console();
  }
}

std::string refused_picture(const std::string& picture, const std::string& first,
                            const std::string& second, const std::string& merged) {
  if (named_descriptor(picture) == 1) {
    return "refusing to write " + printable(picture) +
           ": standard output holds the merge's text; name a file for the picture";
  }
  std::error_code ignored;
  const auto where = std::filesystem::weakly_canonical(std::filesystem::path(picture), ignored);
  const auto merged_where = std::filesystem::weakly_canonical(std::filesystem::path(merged), ignored);
  const char* what = same_file(picture, first)    ? "the first drawing"
                     : same_file(picture, second) ? "the second drawing"
                     : same_file(picture, merged) || where == merged_where ? "the merged file"
                                                                          : nullptr;
  return what == nullptr ? "" : "refusing to write " + printable(picture) + ": it is " + what;
}

void preview_merged(std::string host, std::string shown, const std::string& picture, int width) {
  run::output = OutputFile();  // the merged file is in place: the picture is the file written now
  // The run is not over yet: an interrupt abandons the picture, the merged file whole.
  release_interrupts();
  run::also_say("; the merged file " + shown + " is whole and in place");
  draw(host, shown, picture, width);
}

}  // namespace quorvane
