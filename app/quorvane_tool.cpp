// QUORVANE_TOOL: merges the polylines of a contour drawing (...cn.dxf) and
// those of layer HA_6292 of a second drawing (...ha.dxf) into ...cnha.dxf.
//
// A run: opening asks for a folder under c:\images\ and three base names and
// opens the files; treatment surveys the first input for its extents, writes
// the header, copies the first input's polylines, then the second input's
// HA_6292 polylines and vertices, and ends the merged file, which is put in
// place only then. Any failure ends the run with one line on standard error
// and status 1, and leaves an earlier merged file as it was; an interrupt
// does the same and ends the run as that interrupt ends any program.
//
// The passes are run by MergePasses (passes.h), which says how a fault of a
// drawing travels to its one line, and in which of two ways they run: side
// by side where the merged file is a regular one, in turn into a FIFO, a
// device or a file made aside to be written in place. This file gives them
// their streams and ends the run where a pass found a fault (MergeSite).
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "command_line.h"
#include "console.h"
#include "convert_command.h"
#include "converter.h"
#include "files.h"
#include "host_path.h"
#include "interrupts.h"
#include "line_writer.h"
#include "merge_engine.h"
#include "output_file.h"
#include "preview_command.h"
#include "run.h"
#include "passes.h"
#include "text_encoding.h"
#include "token_stream.h"

using namespace quorvane;
using run::check_console;
using run::check_output;
using run::console;
using run::describe;
using run::f3;
using run::fail;

namespace {

// One reading of an input: the path as composed, where it leads, the stream,
// and the file as it was when opened.
struct Input {
  std::string composed, host;
  std::string shown;  // as messages name it: composed (host), and whether it was converted
  std::unique_ptr<TokenStream> stream;
  std::FILE* file = nullptr;  // held by the stream
  FileStamp stamp;
};

std::string nomim1, nomim2, nomim3;
Input f1, f1_survey;  // the first input, read twice: its survey, then its copy
Input f2;
// With --convert: the drawings as converted, which the merge reads in their place.
std::unique_ptr<TemporaryFile> converted[2];

std::unique_ptr<MergePasses> passes;

// The passes beside this one end first, then the inputs' readers.
void stop_the_merge() {
  if (passes) passes->stop();
  for (Input* input : {&f1_survey, &f1, &f2}) input->stream.reset();
}

// The answers given on the command line, if they were: no prompt is then shown.
std::vector<std::string> given_answers;
std::size_t answers_taken = 0;
std::string nomdir;  // the folder as the operator named it

// Prompts and reads one answer. A NUL byte would cut the path composed with
// it, so that another file would be opened in its place: it stops the run.
void ask(const char* prompt, std::string& word, const char* what) {
  if (!given_answers.empty()) {
    word = given_answers[answers_taken++];
  } else {
    console.prompt(prompt);
    check_console();
    if (!console.answer(word)) {
      if (console.input_error() != 0) {
        fail(std::string("cannot read the answers: ") + std::strerror(console.input_error()));
      }
      fail(std::string("stopped before ") + what + " was given");
    }
  }
  if (word.find('\0') != std::string::npos) {
    fail(std::string(what) + " " + printable(word) +
         " holds a NUL byte, which no name of a file may hold");
  }
}

// Where a composed path leads; a name that matches several files is an error.
std::string locate(const std::string& composed, bool whole, const char* what) {
  CaseMatch found = find_host_path(composed, whole);
  if (!found.choices.empty()) {
    std::string names;
    for (const std::string& choice : found.choices) names += (names.empty() ? "" : ", ") + choice;
    fail(std::string(what) + " " + describe(composed, found.path) +
         ": more than one file matches: " + names);
  }
  return found.path;
}

const char* changed_while_merged = ": it changed while it was being merged";

[[noreturn]] void changed(const Input& input) {
  fail("cannot read " + input.shown + changed_while_merged);
}

// Opens the drawing whose path is composed so, in binary mode; fails the run
// saying why it cannot be. `regular_only`: a FIFO or a device is refused.
std::FILE* open_drawing(const std::string& composed, std::string& host, bool regular_only) {
  host = locate(composed, /*whole=*/true, "cannot open");
  int error = 0;
  std::FILE* file = open_input(host, regular_only, error);
  if (error == kNotRegular) {
    fail("cannot open " + describe(composed, host) +
         ": it is not a regular file, and the first drawing must be read twice");
  }
  if (file == nullptr) {
    // A folder that is not there is named as such, not as a missing file.
    const std::string folder = host.substr(0, host.find_last_of("/\\"));
    std::string why = std::strerror(error);
    if (error == ENOENT && !folder_exists(folder)) why = "there is no folder " + nomdir;
    fail("cannot open " + describe(composed, host) + ": " + why);
  }
  return file;
}

// `ahead`: blocks read and indexed ahead on a thread of the stream's own. A
// pass on a thread of its own indexes its blocks itself instead: on two cores
// a thread more only adds hand-overs.
// `regular_only`: a FIFO or a device is refused.
// `as_converted`: the drawing was converted first, and is read as converted.
Input open_stream(const std::string& composed, bool ahead, bool regular_only = false,
                  const TemporaryFile* as_converted = nullptr) {
  Input input;
  input.composed = composed;
  if (as_converted != nullptr) {
    input.host = locate(composed, /*whole=*/true, "cannot open");
    input.shown = describe(composed, input.host) + " as converted";
    input.file = as_converted->open_reading();
    if (input.file == nullptr) fail("cannot read " + input.shown + ": " + std::strerror(errno));
  } else {
    input.file = open_drawing(composed, input.host, regular_only);
    input.shown = describe(composed, input.host);
  }
  if (!stamp_of(input.file, input.stamp)) input.stamp = FileStamp{};
  // A mapped input cut short while it is read faults instead of ending: the
  // handler of the fault gives this line.
  std::string note = "quorvane_tool: cannot read " + input.shown + changed_while_merged + "\n";
  input.stream = std::make_unique<TokenStream>(
      std::make_unique<FileSource>(input.file, std::move(note)), TokenStream::kDefaultBlock, ahead);
  return input;
}

// The first input is read twice, and both readings must be of one file as it was.
void open_first(const std::string& composed) {
  f1_survey = open_stream(composed, /*ahead=*/false, /*regular_only=*/true, converted[0].get());
  f1 = open_stream(composed, /*ahead=*/true, /*regular_only=*/true, converted[0].get());
  if (!(f1.stamp == f1_survey.stamp)) changed(f1);
}

// After a pass: the input is the file it was when opened, laid out as the
// merge reads it (`fault`, for a copy pass), and read to its end. A fault
// becomes the run's one line here.
void end_of_reading(Input& input, const Fault& fault) {
  FileStamp now;
  if (input.stamp.regular && (!stamp_of(input.file, now) || !(now == input.stamp))) changed(input);
  if (fault) {
    // Drawings of other programs are brought to the layout by the convert command.
    fail("cannot merge " + input.shown + ": line " + std::to_string(fault.line) + ": " +
         fault.what + "; convert it first: quorvane_tool convert " +
         (&input == &f1 ? "cn" : "ha") + " INPUT OUTPUT, or merge with --convert");
  }
  if (input.stream->error() != 0) {
    fail("cannot read " + input.shown + ": " +
         std::strerror(input.stream->error()));
  }
  input.stream.reset();
  input.file = nullptr;
}

// Refuses an output that would be one of the inputs, then makes ready to write it.
void create_merged(const std::string& composed) {
  // Its folders may differ in case from the answers; its name is the one composed.
  std::string host = locate(composed, /*whole=*/false, "cannot create");
  for (const Input* input : {&f1, &f2}) {
    if (same_file(host, input->host)) {
      fail("refusing to write " + describe(composed, host) + ": it is the same file as the " +
           (input == &f1 ? "first input " + nomim1 : "second input " + nomim2));
    }
  }
  std::FILE* file = run::open_output(host, describe(composed, host), "merged file");
  // Into a regular file (one made aside too), full buffers are written on a
  // thread of the writer's own; into a FIFO or a device this thread writes
  // every byte, so that an interrupt comes between two writes.
  f3 = std::make_unique<LineWriter>(std::make_unique<FileSink>(file), LineWriter::kDefaultCapacity,
                                    /*background=*/run::output.regular());
}

void opening() {
  console.write(banner());
  std::string nomfic1, nomfic2, nomfic3;
  nomim1 = "c:\\images\\";
  ask("\n\n\tName of the File Folder located in the Directory C:\\images : ", nomdir,
      "the folder name");
  nomim1 += nomdir;
  nomim1 += "\\";
  nomim2 = nomim1;
  nomim3 = nomim1;
  ask("\n\tName of the File cn.dxf (without extension cn.dxf) ? ", nomfic1,
      "the name of the file cn.dxf");
  nomim1 += nomfic1 + "cn.dxf";
  open_first(nomim1);
  ask("\n\tName of the File ha.dxf (withou extension ha.dxf) ? ", nomfic2,
      "the name of the file ha.dxf");
  nomim2 += nomfic2 + "ha.dxf";
  f2 = open_stream(nomim2, /*ahead=*/false, /*regular_only=*/false, converted[1].get());
  ask("\n\tName of the resulting File (without extension cnha.dxf) ? ", nomfic3,
      "the name of the resulting file");
  nomim3 += nomfic3 + "cnha.dxf";
  create_merged(nomim3);
}

// What the passes read, and what follows each: the one-line message of a
// fault, a file that changed while it was read, a console or a merged file
// that could not be written.
class MergeSite : public PassSite {
 public:
  TokenStream& stream(Pass pass, bool beside) override {
    switch (pass) {
      case Pass::kSurvey:
        return *f1_survey.stream;
      case Pass::kFirstCopy:
        return *f1.stream;
      case Pass::kSecondCopy:
        break;
    }
    if (!f2.stream) {
      // Ended by end_of_reading after its copy into a part that could not be
      // written whole: once more from its start, for a copy made again; it
      // must be the file read before.
      Input again = open_stream(nomim2, /*ahead=*/true, /*regular_only=*/false, converted[1].get());
      if (!(again.stamp == f2.stamp)) changed(f2);
      f2 = std::move(again);
    }
    if (!beside) f2.stream->read_ahead();  // copied here, after the first input
    return *f2.stream;
  }
  bool end_of_pass(Pass pass, const Fault& fault) override {
    end_of_reading(pass == Pass::kSurvey ? f1_survey : pass == Pass::kFirstCopy ? f1 : f2, fault);
    return true;
  }
  void readings_differ() override { changed(f1); }
  void console_written() override { check_console(); }
  void output_written(int error) override { check_output(error); }
};

MergeSite site;

// Free room the second input's part must leave, beyond four times the
// inputs' size (a token of one byte and its line end are written in at most
// eight): the merged file must still fit.
constexpr std::uint64_t kSpareRoom = std::uint64_t{64} << 20;

void treatment() {
  passes = std::make_unique<MergePasses>(site, console, *f3);
  // Into a regular file, the passes run side by side; into a FIFO or a
  // device, or a file made aside to be written in place, in turn.
  if (run::output.kind() == OutputFile::Kind::kReplacing) {
    // The part is an optimisation: only where the folder has room for it and the merged file.
    std::FILE* part = nullptr;
    const auto inputs = static_cast<std::uint64_t>(f1.stamp.size + f2.stamp.size);
    if (f2.stamp.regular &&
        room_for(run::output.target().substr(0, run::output.target().find_last_of("/\\") + 1),
                 4 * inputs + kSpareRoom)) {
      part = create_part(run::output.target());
    }
    passes->run(MergePasses::Mode::kSideBySide, part);
  } else {
    passes->run(MergePasses::Mode::kInTurn);
  }
  const Extents& extents = passes->extents();
  close_out(*f3);
  check_output(f3->close());
  final_report(extents, console);
  console.flush();
  check_console();
  // The merged file takes its name only now, whole; an interrupt from here
  // on comes too late to stop the run.
  hold_interrupts_to_the_end();
  run::commit_output();
  // The commonest mistake with such drawings: two coordinate systems. The
  // merged file is whole all the same; the operator is told.
  const std::string warning =
      overlap_warning(extents, passes->first_drawn(), passes->curves_drawn(), nomim1, nomim2);
  if (!warning.empty()) {
    if (console.terminal()) {  // the report ends without a line end: the warning on a line of its own
      console.write("\n");
      console.flush();
    }
    write_error_line("quorvane_tool: warning: " + warning + "\n");
  }
  // On a terminal, where the merged file is; the run is over, whatever befalls this line.
  if (console.terminal()) {
    console.write("\n\tmerged file: " + describe(nomim3, run::output_host()) + "\n");
    console.flush();
  }
}


// merge --convert: each drawing converted first, as `convert` converts it,
// into a temporary file that goes with the process; the merge then reads the
// drawings as converted. The drawings themselves are only read.
void convert_drawings(const std::optional<std::string>& layer) {
  nomdir = given_answers[0];
  const std::string folder = "c:\\images\\" + nomdir + "\\";
  const std::string paths[2] = {folder + given_answers[1] + "cn.dxf",
                                folder + given_answers[2] + "ha.dxf"};
  const DrawingKind kinds[2] = {DrawingKind::kContours, DrawingKind::kPlots};
  for (int i = 0; i < 2; ++i) {
    std::string host;
    std::FILE* file = open_drawing(paths[i], host, /*regular_only=*/false);
    converted[i] = convert_for_merge(file, describe(paths[i], host), kinds[i],
                                     i == 1 ? layer : std::nullopt);
  }
  console.flush();
  check_console();
}

}  // namespace

// The fault of a mapped input cut short ends the process from the thread that
// met it, without joining the others: no thread is lost that way otherwise.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_options() { return "report_thread_leaks=0"; }
#endif

// What the command line asks for: 0, or the status of a usage error.
int dispatch(const std::vector<std::string>& arguments) {
  const Command command = parse_command_line(arguments);
  switch (command.kind) {
    case Command::Kind::kHelp:
    case Command::Kind::kVersion: {
      const std::string text =
          command.kind == Command::Kind::kHelp ? usage() : version_line() + "\n";
      return std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0 ? 1 : 0;
    }
    case Command::Kind::kUsageError:
      write_error_line("quorvane_tool: " + command.error +
                       " (quorvane_tool --help shows the usage)\n");
      return 2;
    default:
      break;
  }
  if (command.kind == Command::Kind::kConvert) {
    convert_command(command);
    return 0;
  }
  if (command.kind == Command::Kind::kPreview) {
    preview_command(command);
    return 0;
  }
  run::on_failure(stop_the_merge);
  given_answers = command.answers;
  if (command.convert) convert_drawings(command.layer);
  opening();
  if (command.preview) {
    const std::string why = refused_picture(*command.preview, f1.host, f2.host, run::output.target());
    if (!why.empty()) fail(why);
    // Its picture is drawn from the merged file, read back once it is in place.
    if (run::output.kind() == OutputFile::Kind::kWriteThrough) {
      fail("refusing to draw " + describe(nomim3, run::output_host()) +
           ": it is not a regular file, and cannot be read back for its picture");
    }
  }
  treatment();
  if (command.preview) {
    preview_merged(run::output_host(), describe(nomim3, run::output_host()), *command.preview,
                   command.width);
  }
  return 0;
}

#ifdef _WIN32
// The arguments as Windows gives them, in UTF-16: any name, whatever the code page.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(narrow(argv[i]));
#else
int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
#endif
  run::install_handlers();
  return dispatch(arguments);
}
