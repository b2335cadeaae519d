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
// Where the merged file is a regular one, the passes run side by side (see
// side_by_side.h): the copy of the second input on a thread of its own, the
// copy of the first input here, which works out what the survey finds on the
// way (see SurveyShadow). Into a FIFO or a device, or a file made aside to be
// written in place, they run one after the other.
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "command_line.h"
#include "console.h"
#include "converter.h"
#include "files.h"
#include "host_path.h"
#include "interrupts.h"
#include "line_writer.h"
#include "merge_engine.h"
#include "output_file.h"
#include "side_by_side.h"
#include "text_encoding.h"
#include "token_stream.h"

using namespace quorvane;

namespace {

// One reading of an input: the path as composed, where it leads, the stream,
// and the file as it was when opened.
struct Input {
  std::string composed, host;
  std::unique_ptr<TokenStream> stream;
  std::FILE* file = nullptr;  // held by the stream
  FileStamp stamp;
};

std::string nomim1, nomim2, nomim3;
Input f1, f1_survey;  // the first input, read twice: its survey, then its copy
Input f2;
OutputFile output;
std::string output_host;  // where the merged file's path leads, as found
std::string output_shown;  // the file written, as a message names it
const char* output_role = "merged file";
std::unique_ptr<LineWriter> f3;
Extents extents;
Console console(stdout, stdin);
std::unique_ptr<SecondCopyThread> second;
std::unique_ptr<GroupSource> groups;  // the pairs of a drawing being converted

std::string describe(const std::string& composed, const std::string& host) {
  return composed + " (" + host + ")";
}

// The reason of a failed write, in an operator's words where the system's are not.
std::string reason(int error) {
  if (error == ENOSPC) return "the disk is full";
#ifdef EDQUOT
  if (error == EDQUOT) return "the disk quota is used up";
#endif
  return std::strerror(error);
}

[[noreturn]] void fail(const std::string& what) {
  // The passes beside this one end first: they write to the console and the
  // files. Then every other thread is joined, the inputs' readers ahead and
  // the merged file's writer, so that the process ends with this one alone
  // (Wine reports a thread that the end of a process cuts off).
  second.reset();
  groups.reset();
  console.flush();
  f3.reset();
  for (Input* input : {&f1_survey, &f1, &f2}) input->stream.reset();
  std::string left = output.abandon();
  if (!left.empty()) left = std::string("; the ") + output_role + " " + output_shown + " " + left;
  write_error_line("quorvane_tool: " + what + left + "\n");
  std::_Exit(1);
}

void check_console() {
  if (console.error() != 0) {
    fail(std::string("cannot write to standard output: ") + std::strerror(console.error()));
  }
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
const char* changed_while_converted = ": it changed while it was being converted";

[[noreturn]] void changed(const Input& input) {
  fail("cannot read " + describe(input.composed, input.host) + changed_while_merged);
}

// `ahead`: blocks read and indexed ahead on a thread of the stream's own. A
// pass on a thread of its own indexes its blocks itself instead: on two cores
// a thread more only adds hand-overs.
// `regular_only`: a FIFO or a device is refused.
Input open_stream(const std::string& composed, bool ahead, bool regular_only = false) {
  Input input;
  input.composed = composed;
  input.host = locate(composed, /*whole=*/true, "cannot open");
  int error = 0;
  input.file = open_input(input.host, regular_only, error);
  if (error == kNotRegular) {
    fail("cannot open " + describe(composed, input.host) +
         ": it is not a regular file, and the first drawing must be read twice");
  }
  if (input.file == nullptr) {
    // A folder that is not there is named as such, not as a missing file.
    const std::string folder = input.host.substr(0, input.host.find_last_of("/\\"));
    std::string why = std::strerror(error);
    if (error == ENOENT && !folder_exists(folder)) why = "there is no folder " + nomdir;
    fail("cannot open " + describe(composed, input.host) + ": " + why);
  }
  if (!stamp_of(input.file, input.stamp)) input.stamp = FileStamp{};
  // A mapped input cut short while it is read faults instead of ending: the
  // handler of the fault gives this line.
  std::string note =
      "quorvane_tool: cannot read " + describe(composed, input.host) + changed_while_merged + "\n";
  input.stream = std::make_unique<TokenStream>(
      std::make_unique<FileSource>(input.file, std::move(note)), TokenStream::kDefaultBlock, ahead);
  return input;
}

// The first input is read twice, and both readings must be of one file as it was.
void open_first(const std::string& composed) {
  f1_survey = open_stream(composed, /*ahead=*/false, /*regular_only=*/true);
  f1 = open_stream(composed, /*ahead=*/true, /*regular_only=*/true);
  if (!(f1.stamp == f1_survey.stamp)) changed(f1);
}

// After a pass: the input is the file it was when opened, laid out as the
// merge reads it (`fault`, for a copy pass), and read to its end.
void end_of_pass(Input& input, const Fault& fault = Fault{}) {
  FileStamp now;
  if (input.stamp.regular && (!stamp_of(input.file, now) || !(now == input.stamp))) changed(input);
  if (fault) {
    // Drawings of other programs are brought to the layout by the convert command.
    fail("cannot merge " + describe(input.composed, input.host) + ": line " +
         std::to_string(fault.line) + ": " + fault.what + "; convert it first: quorvane_tool convert " +
         (&input == &f1 ? "cn" : "ha") + " INPUT OUTPUT");
  }
  if (input.stream->error() != 0) {
    fail("cannot read " + describe(input.composed, input.host) + ": " +
         std::strerror(input.stream->error()));
  }
  input.stream.reset();
  input.file = nullptr;
}

#ifndef _WIN32
std::atomic_flag faulted = ATOMIC_FLAG_INIT;
std::string left_empty_note;  // what the fault's line adds for an earlier file emptied

void on_bus_error(int signal, siginfo_t* info, void*) {
  const char* note = mapped_input_note(info->si_addr);
  if (note == nullptr) {  // not a mapped input: the usual end of the process
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  // Several passes may meet the lost bytes at once: one of them ends the run.
  if (faulted.test_and_set()) {
    for (;;) pause();
  }
  const bool emptied = OutputFile::abandon_now();
  const std::size_t length = std::strlen(note);
  ssize_t written = write(2, note, emptied ? length - 1 : length);  // without its line feed
  if (emptied) {
    written = write(2, left_empty_note.c_str(), left_empty_note.size());
    written = write(2, "\n", 1);
  }
  (void)written;
  _exit(1);
}
#endif

// Once the file to write is open: where it leads, how messages name it, and
// what the line of a fault adds when it empties an earlier file being written over.
void name_output(const std::string& host, const std::string& shown) {
  output_host = host;
  output_shown = shown;
#ifndef _WIN32
  if (output.kind() == OutputFile::Kind::kInPlace) {
    left_empty_note =
        std::string("; the ") + output_role + " " + shown + " " + kWrittenOverAndEmptied;
  }
#endif
}

// Opens the file to write, or ends the run saying why it cannot be.
std::FILE* open_output(const std::string& host, const std::string& shown) {
  int error = 0;
  std::FILE* file = output.open(host, error);
  if (file == nullptr && output.kind() == OutputFile::Kind::kInPlace) {
    fail("cannot create " + shown +
         ": its folder takes no new file, and no temporary file can be made for it: " +
         std::strerror(error));
  }
  if (file == nullptr) fail("cannot create " + shown + ": " + reason(error));
  name_output(host, shown);
  return file;
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
  std::FILE* file = open_output(host, describe(composed, host));
  // Into a regular file (one made aside too), full buffers are written on a
  // thread of the writer's own; into a FIFO or a device this thread writes
  // every byte, so that an interrupt comes between two writes.
  f3 = std::make_unique<LineWriter>(std::make_unique<FileSink>(file), LineWriter::kDefaultCapacity,
                                    /*background=*/output.regular());
}

// A file written in place is made in the system's temporary folder first:
// a failure before commit is one of that folder's disk.
void check_output(int error) {
  if (error == 0) return;
  const bool aside = output.kind() == OutputFile::Kind::kInPlace;
  fail("cannot write " + output_shown + ": " + reason(error) +
       (aside ? " in the system's temporary folder, where it is made first" : ""));
}

// Puts the file written in place; a failure now is one of the file itself.
void commit_output() {
  if (int error = output.commit(); error != 0) {
    fail("cannot write " + output_shown + ": " + reason(error));
  }
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
  f2 = open_stream(nomim2, /*ahead=*/false);
  ask("\n\tName of the resulting File (without extension cnha.dxf) ? ", nomfic3,
      "the name of the resulting file");
  nomim3 += nomfic3 + "cnha.dxf";
  create_merged(nomim3);
}

// The copy of the first input reads as far as its survey did, or the file changed.
void check_first_copy_position(std::uint64_t surveyed) {
  if (f1.stream->error() == 0 && f1.stream->position() != surveyed) changed(f1);
}

// The second input once more from its start, for a copy in its turn; it must
// be the file read before.
Input reopen_second() {
  Input again = open_stream(nomim2, /*ahead=*/true);
  if (!(again.stamp == f2.stamp)) changed(f2);
  return again;
}

// Into a FIFO, a device or a file written in place: nothing is ever seeked,
// so the survey ends before the header is written.
void passes_in_turn() {
  Working w;
  survey_pass(*f1_survey.stream, w, extents, console);
  const std::uint64_t surveyed = f1_survey.stream->position();
  end_of_pass(f1_survey);
  first_report(extents, console);
  check_console();
  write_header(extents, *f3);
  copy_first_input(*f1.stream, *f3, w, console);
  if (!w.fault) check_first_copy_position(surveyed);
  end_of_pass(f1, w.fault);
  check_output(f3->error());
  check_console();
  f2.stream->read_ahead();
  copy_second_input(*f2.stream, *f3, w, console);
  end_of_pass(f2, w.fault);
}

// Free room the second input's part must leave, beyond four times the
// inputs' size (a token of one byte and its line end are written in at most
// eight): the merged file must still fit.
constexpr std::uint64_t kSpareRoom = std::uint64_t{64} << 20;

void passes_side_by_side() {
  Working w;
  // The part is an optimisation: only where the folder has room for it and the merged file.
  std::FILE* part = nullptr;
  const auto inputs = static_cast<std::uint64_t>(f1.stamp.size + f2.stamp.size);
  if (f2.stamp.regular &&
      room_for(output.target().substr(0, output.target().find_last_of("/\\") + 1),
               4 * inputs + kSpareRoom)) {
    part = create_part(output.target());
  }
  if (part != nullptr) second = std::make_unique<SecondCopyThread>(*f2.stream, part, console);

  // The first input is read once: its copy works out what its survey finds,
  // and writes the survey's text as it goes, its own text held until then.
  Console copying(console, [] { return false; });
  SurveyShadow shadow(console, *f3);
  copy_first_input(*f1.stream, *f3, w, copying, &shadow);
  if (shadow.holds()) {
    extents = shadow.extents();
  } else {
    // The survey reads this drawing otherwise: it is run after all, from
    // where its text stopped.
    Working surveying;
    survey_pass(*f1_survey.stream, surveying, extents, console, shadow.shown());
    if (!w.fault) check_first_copy_position(f1_survey.stream->position());
  }
  end_of_pass(f1_survey);
  first_report(extents, console);
  check_console();
  copying.release();
  end_of_pass(f1, w.fault);
  // The header was written with the extents known at the first entity, or
  // not at all for a drawing without one.
  const std::string final_header = header_text(extents);
  if (shadow.header().empty()) {
    write_header(extents, *f3);
  } else if (final_header != shadow.header()) {
    check_output(f3->replace_front(shadow.header().size(), final_header));
  }
  check_output(f3->error());
  check_console();

  if (second) {
    second->let_write();
    const int part_error = second->finish();
    end_of_pass(f2, second->fault());
    if (part_error == 0) {
      check_output(f3->append_file(second->part()));
      second.reset();
      return;
    }
    // The part could not be written whole: the copy is made again in its
    // turn, its console text already shown.
    second.reset();
    Input again = reopen_second();
    Console shown(console, [] { return false; });
    copy_second_input(*again.stream, *f3, w, shown);
    end_of_pass(again, w.fault);
  } else {
    f2.stream->read_ahead();  // copied here, after the first input
    copy_second_input(*f2.stream, *f3, w, console);
    end_of_pass(f2, w.fault);
  }
}

void treatment() {
  if (output.kind() == OutputFile::Kind::kReplacing) {
    passes_side_by_side();
  } else {
    passes_in_turn();
  }
  close_out(*f3);
  check_output(f3->close());
  final_report(extents, console);
  console.flush();
  check_console();
  // The merged file takes its name only now, whole; an interrupt from here
  // on comes too late to stop the run.
  hold_interrupts_to_the_end();
  commit_output();
  // On a terminal, where the merged file is; the run is over, whatever befalls this line.
  if (console.terminal()) {
    console.write("\n\tmerged file: " + describe(nomim3, output_host) + "\n");
    console.flush();
  }
}


// A drawing of another program, written as the merge reads it.
//
// The converted file is written as the merged file is: under a temporary
// name, put in place only when whole. Its header carries the drawing's own
// extents when they can be used; otherwise they are those of the vertices
// written, put in front of the file once it is written. Into a FIFO or a
// device the file is made in a temporary file first, then written through.
void convert_drawing(const Command& command) {
  output_role = "converted file";
  const std::string& input = command.input;
  int error = 0;
  std::FILE* file = open_input(input, /*regular_only=*/false, error);
  if (file == nullptr) fail("cannot open " + input + ": " + std::strerror(error));
  FileStamp stamp;
  if (!stamp_of(file, stamp)) stamp = FileStamp{};
  std::setvbuf(file, nullptr, _IONBF, 0);  // the reader reads whole blocks itself
  FileReader source(file);
  if (same_file(command.output, input)) {
    fail("refusing to write " + command.output + ": it is the same file as the drawing to convert, " +
         input);
  }
  std::FILE* target = open_output(command.output, command.output);
  // The header may be known only at the end: a FIFO or a device, which
  // cannot be rewritten, is made in a temporary file first.
  std::FILE* spool = nullptr;
  if (!output.regular()) {
    spool = temporary_file();
    if (spool == nullptr) {
      fail("cannot write " + command.output + ": no temporary file can be made for it: " +
           std::strerror(errno));
    }
  }
  f3 = std::make_unique<LineWriter>(std::make_unique<FileSink>(spool != nullptr ? spool : target),
                                    LineWriter::kDefaultCapacity, /*background=*/output.regular());
  ConvertOptions options;
  options.kind = command.drawing == "cn" ? DrawingKind::kContours : DrawingKind::kPlots;
  options.layer = command.layer;
  // A regular file is read on a thread of its own, beside the conversion.
  if (stamp.regular) {
    groups = std::make_unique<GroupsAhead>(source);
  } else {
    groups = std::make_unique<GroupReader>(source);
  }
  Converter converter(*groups, options);
  const bool whole = converter.run(*f3);
  const int read_error = groups->error();
  const ReadFault fault = converter.fault();
  groups.reset();  // a drawing may go on after its EOF: the reading stops here
  FileStamp now;
  if (stamp.regular && (!stamp_of(file, now) || !(now == stamp))) {
    fail("cannot read " + input + changed_while_converted);
  }
  if (read_error != 0) fail("cannot read " + input + ": " + std::strerror(read_error));
  if (!whole) {
    fail("cannot convert " + input + ": line " + std::to_string(fault.line) + ": " + fault.what);
  }
  const ConvertReport& report = converter.report();
  if (command.layer && report.from_layer == 0) {
    std::string layers;
    for (const std::string& layer : report.layers) {
      layers += (layers.empty() ? "" : ", ") + printable(layer);
    }
    if (report.more_layers) layers += ", and more";
    fail("cannot convert " + input + ": no polyline of its model space is on layer " +
         printable(*command.layer) +
         (layers.empty() ? std::string(": it has none") : "; its polylines are on " + layers));
  }
  if (spool != nullptr) {
    // Written through from the temporary file, which goes when closed.
    check_output(f3->flush());
    std::vector<char> piece(1 << 20);
    if (std::fflush(spool) != 0 || std::fseek(spool, 0, SEEK_SET) != 0) {
      fail("cannot write " + command.output + ": its temporary file cannot be read back: " +
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
#ifndef _WIN32
  // Into standard output itself, the summary goes beside it, to standard error.
  if (same_file(command.output, "/dev/stdout")) {
    const std::string text = summary(report, options, input, command.output);
    std::fputs(text.c_str(), stderr);
  } else
#endif
  {
    console.write(summary(report, options, input, command.output));
    console.flush();
    check_console();
  }
  hold_interrupts_to_the_end();
  commit_output();
}

}  // namespace

// Memory refused to any thread ends the run as any failure does: the file
// being written is abandoned, and one line says why. Nothing here allocates.
static void out_of_memory() {
  const bool emptied = OutputFile::abandon_now();
  static const char kLine[] = "quorvane_tool: out of memory: the run stops, and the file it was "
                              "writing is not put in place";
  static const char kEmptied[] = "; that file was being written over in place and is left empty";
#ifdef _WIN32
  _write(2, kLine, sizeof kLine - 1);
  if (emptied) _write(2, kEmptied, sizeof kEmptied - 1);
  _write(2, "\n", 1);
#else
  ssize_t written = write(2, kLine, sizeof kLine - 1);
  if (emptied) written = write(2, kEmptied, sizeof kEmptied - 1);
  written = write(2, "\n", 1);
  (void)written;
#endif
  std::_Exit(1);
}

// The fault of a mapped input cut short ends the process from the thread that
// met it, without joining the others: no thread is lost that way otherwise.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_options() { return "report_thread_leaks=0"; }
#endif

// What the command line asks for: 0, or the status of a usage error.
int run(const std::vector<std::string>& arguments) {
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
    convert_drawing(command);
    return 0;
  }
  given_answers = command.answers;
  opening();
  treatment();
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
#ifdef SIGPIPE
  // A closed pipe on standard output is reported as a failed write, not a silent death.
  std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef SIGXFSZ
  // So is a merged file beyond the size this process may write.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  on_interrupt([] { OutputFile::abandon_now(); });
  std::set_new_handler(out_of_memory);
#ifndef _WIN32
  struct sigaction bus_error {};
  bus_error.sa_sigaction = on_bus_error;
  bus_error.sa_flags = SA_SIGINFO;
  sigemptyset(&bus_error.sa_mask);
  sigaction(SIGBUS, &bus_error, nullptr);
#endif
  return run(arguments);
}
