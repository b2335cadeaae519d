// QUORVANE_TOOL: merges the polylines of a contour drawing (...cn.dxf) and
// those of layer HA_6292 of a second drawing (...ha.dxf) into ...cnha.dxf.
//
// A run: opening asks for a folder under c:\images\ and three base names and
// opens the files; treatment surveys the first input for its extents, writes
// the header, copies the first input's polylines, then the second input's
// HA_6292 polylines and vertices, and ends the merged file. Any failure ends
// the run with one line on standard error and status 1, and removes the
// merged file if this run had created it.
//
// The three passes run side by side: the survey on a thread of its own, the
// copy of the first input here, and the copy of the second input on a third
// thread into a file without a name, appended at the end. The header is
// written with the extents the survey has found when it meets the first
// polyline, and mended at the end of the copy if a later $EXTMIN or $EXTMAX
// changed them; each copy's console text is held until the pass before it is
// over, so the console reads as if one pass came after the other.
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "console.h"
#include "files.h"
#include "host_path.h"
#include "line_writer.h"
#include "merge_engine.h"
#include "token_stream.h"

using namespace quorvane;

namespace {

// The three paths as composed from the answers, where they lead on this
// system, and the files they lead to.
std::string nomim1, nomim2, nomim3;
std::string host1, host2;
std::unique_ptr<TokenStream> f1, f2;
std::unique_ptr<TokenStream> f1_survey;  // the first input once more, for its survey
std::unique_ptr<LineWriter> f3;
std::string output_host;  // set once the merged file has been created
Extents extents;
Console console(stdout, stdin);

// The survey of the first input, on its own thread. While it runs it alone
// writes to the console and to `extents`. Its thread is not joined but waited
// for: a run that fails ends without waiting for every thread.
class Survey : public SurveyWatch {
 public:
  void start(TokenStream& stream, const Working& w) {
    w_ = w;
    std::thread([this, &stream] {
      survey_pass(stream, w_, extents, console, this);
      position_ = stream.position();
      std::lock_guard<std::mutex> lock(mutex_);
      so_far_ = extents;
      over_ = true;
      changed_.notify_all();
    }).detach();
    started_ = true;
  }
  void entities_reached(const Extents& so_far) override {
    std::lock_guard<std::mutex> lock(mutex_);
    so_far_ = so_far;
    reached_ = true;
    changed_.notify_all();
  }
  /// The extents of the header: as read when the first polyline comes, or at the end.
  Extents expected() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return reached_ || over_; });
    return so_far_;
  }
  bool over() {
    std::lock_guard<std::mutex> lock(mutex_);
    return over_;
  }
  /// Waits for the end of the survey; then its results may be read.
  void finish() {
    if (!started_) return;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return over_; });
  }
  const Working& working() const { return w_; }
  std::uint64_t position() const { return position_; }

 private:
  bool started_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  Extents so_far_;
  bool reached_ = false;
  bool over_ = false;
  Working w_;
  std::uint64_t position_ = 0;
};
Survey survey;

// The copy of the second input, on its own thread, into a file without a name
// beside the merged one; appended to the merged file once the copy of the
// first input is in. Its console text is held until it may come.
class SecondCopy {
 public:
  /// False where no such file can be made: the copy then runs in its turn.
  bool start(TokenStream& stream, const std::string& beside) {
    std::FILE* part = create_part(beside);
    if (part == nullptr) return false;
    writer_ = std::make_unique<LineWriter>(std::make_unique<FileSink>(part),
                                           LineWriter::kDefaultCapacity, /*background=*/true);
    part_ = part;
    console_ = std::make_unique<Console>(console, [this] { return may_write_.load(); });
    w_.val_known = false;
    w_.dval_known = false;
    w_.before = [this] {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return carried_known_; });
      return carried_;
    };
    std::thread([this, &stream] {
      copy_second_input(stream, *writer_, w_, *console_);
      std::lock_guard<std::mutex> lock(mutex_);
      over_ = true;
      changed_.notify_all();
    }).detach();
    return true;
  }
  /// The val and dval the copy of the first input leaves: this copy goes on from them.
  void carry(const Working& w) {
    std::lock_guard<std::mutex> lock(mutex_);
    carried_ = {w.val, w.dval};
    carried_known_ = true;
    changed_.notify_all();
  }
  /// From now on the copy writes to the console itself.
  void let_write() { may_write_.store(true); }
  /// Waits for the end of the copy, and lets out what its console holds.
  void finish() {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return over_; });
    }
    console_->release();
  }
  LineWriter& writer() { return *writer_; }
  std::FILE* part() const { return part_; }
  /// The part file goes.
  void close() { writer_.reset(); }

 private:
  std::unique_ptr<LineWriter> writer_;
  std::FILE* part_ = nullptr;
  std::unique_ptr<Console> console_;
  std::atomic<bool> may_write_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  Working::Carried carried_{};
  bool carried_known_ = false;
  bool over_ = false;
  Working w_;
};
SecondCopy second;

std::string describe(const std::string& composed, const std::string& host) {
  return composed + " (" + host + ")";
}

[[noreturn]] void fail(const std::string& what) {
  survey.finish();
  console.flush();
  if (!output_host.empty()) {
    f3.reset();
    std::remove(output_host.c_str());
  }
  std::fputs(("quorvane_tool: " + what + "\n").c_str(), stderr);
  std::fflush(stderr);
  // A copy of the second input may still be going, into its own file and
  // console text, which go with the process: it is not waited for.
  std::_Exit(1);
}

void check_console() {
  if (console.error() != 0) {
    fail(std::string("cannot write to standard output: ") + std::strerror(console.error()));
  }
}

// Prompts and reads one answer; `path` is what has been composed so far.
void ask(const char* prompt, std::string& word, const std::string& path, const char* what) {
  console.prompt(prompt);
  check_console();
  if (console.answer(word)) return;
  std::string why = console.input_error() != 0
                        ? std::strerror(console.input_error())
                        : std::string("standard input ended before ") + what + " was given";
  fail("cannot compose " + describe(path, host_path(path)) + ": " + why);
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

// `ahead`: blocks read and indexed ahead on a thread of the stream's own. A
// pass on a thread of its own indexes its blocks itself instead: on two cores
// a thread more only adds hand-overs.
std::unique_ptr<TokenStream> open_stream(const std::string& composed, std::string& host,
                                         bool ahead) {
  host = locate(composed, /*whole=*/true, "cannot open");
  int error = 0;
  std::FILE* file = open_input(host, error);
  if (file == nullptr)
    fail("cannot open " + describe(composed, host) + ": " + std::strerror(error));
  // A mapped input cut short while it is read faults instead of ending: the
  // handler of the fault gives this line.
  std::string note =
      "quorvane_tool: cannot read " + describe(composed, host) + changed_while_merged + "\n";
  return std::make_unique<TokenStream>(std::make_unique<FileSource>(file, std::move(note)),
                                       TokenStream::kDefaultBlock, ahead);
}

#ifndef _WIN32
// The merged file to remove if the run ends in a signal handler.
std::atomic<const char*> removed_on_fault{nullptr};

std::atomic_flag faulted = ATOMIC_FLAG_INIT;

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
  if (const char* output = removed_on_fault.load()) unlink(output);
  ssize_t written = write(2, note, std::strlen(note));
  (void)written;
  _exit(1);
}
#endif

// Refuses an output that would be one of the inputs, then creates it.
void create_merged(const std::string& composed) {
  // Its folders may differ in case from the answers; its name is the one composed.
  std::string host = locate(composed, /*whole=*/false, "cannot create");
  for (const std::string* input : {&host1, &host2}) {
    if (same_file(host, *input)) {
      fail("refusing to write " + describe(composed, host) + ": it is the same file as the " +
           (input == &host1 ? "first input " + nomim1 : "second input " + nomim2));
    }
  }
  int error = 0;
  std::FILE* file = create_output(host, error);
  if (file == nullptr)
    fail("cannot create " + describe(composed, host) + ": " + std::strerror(error));
  output_host = host;
#ifndef _WIN32
  removed_on_fault.store(output_host.c_str());
#endif
  f3 = std::make_unique<LineWriter>(std::make_unique<FileSink>(file), LineWriter::kDefaultCapacity,
                                    /*background=*/true);
}

// Closes an input once its pass is over, after making sure it was read to its end.
void finish_input(std::unique_ptr<TokenStream>& stream, const std::string& composed,
                  const std::string& host) {
  if (stream->error() != 0) {
    fail("cannot read " + describe(composed, host) + ": " + std::strerror(stream->error()));
  }
  stream.reset();
}

void check_output(int error) {
  if (error != 0) {
    fail("cannot write " + describe(nomim3, output_host) + ": " + std::strerror(error));
  }
}

void opening() {
  console.write(banner());
  std::string nomdir, nomfic1, nomfic2, nomfic3;
  nomim1 = "c:\\images\\";
  ask("\n\n\tName of the File Folder located in the Directory C:\\images : ", nomdir, nomim1,
      "the folder name");
  nomim1 += nomdir;
  nomim1 += "\\";
  nomim2 = nomim1;
  nomim3 = nomim1;
  ask("\n\tName of the File cn.dxf (without extension cn.dxf) ? ", nomfic1, nomim1,
      "the name of the file cn.dxf");
  nomim1 += nomfic1 + "cn.dxf";
  f1_survey = open_stream(nomim1, host1, /*ahead=*/false);
  f1 = open_stream(nomim1, host1, /*ahead=*/true);
  ask("\n\tName of the File ha.dxf (withou extension ha.dxf) ? ", nomfic2, nomim2,
      "the name of the file ha.dxf");
  nomim2 += nomfic2 + "ha.dxf";
  f2 = open_stream(nomim2, host2, /*ahead=*/false);
  ask("\n\tName of the resulting File (without extension cnha.dxf) ? ", nomfic3, nomim3,
      "the name of the resulting file");
  nomim3 += nomfic3 + "cnha.dxf";
  create_merged(nomim3);
}

void treatment() {
  Working w;
  const bool side_by_side = second.start(*f2, output_host);
  survey.start(*f1_survey, w);
  const Extents expected = survey.expected();
  const std::string header = header_text(expected);
  write_header(expected, *f3);

  // What a run that surveys first shows before the copy begins.
  bool surveyed = false;
  auto end_survey = [&] {
    if (surveyed) return;
    surveyed = true;
    survey.finish();
    finish_input(f1_survey, nomim1, host1);
    first_report(extents, console);
    check_console();
  };
  Console copying(console, [&] {
    if (!survey.over()) return false;
    end_survey();
    return true;
  });
  w.val_known = false;
  w.before = [] {
    survey.finish();
    return Working::Carried{survey.working().val, survey.working().dval};
  };
  copy_first_input(*f1, *f3, w, copying);
  if (side_by_side) second.carry(w);
  end_survey();
  copying.release();
  if (f1->error() == 0 && f1->position() != survey.position()) {
    fail("cannot read " + describe(nomim1, host1) + changed_while_merged);
  }
  finish_input(f1, nomim1, host1);
  const std::string final_header = header_text(extents);
  if (final_header != header) check_output(f3->replace_front(header.size(), final_header));
  check_output(f3->error());
  check_console();

  if (side_by_side) {
    second.let_write();
    second.finish();
    finish_input(f2, nomim2, host2);
    check_output(second.writer().flush());
    check_output(f3->append_file(second.part()));
    second.close();
  } else {
    f2->read_ahead();  // copied here, after the first input
    copy_second_input(*f2, *f3, w, console);
    finish_input(f2, nomim2, host2);
  }
  close_out(*f3);
  check_output(f3->close());
  final_report(extents, console);
  console.flush();
  check_console();
}

}  // namespace

int main() {
#ifdef SIGPIPE
  // A closed pipe on standard output is reported as a failed write, not a silent death.
  std::signal(SIGPIPE, SIG_IGN);
#endif
#ifndef _WIN32
  struct sigaction bus_error {};
  bus_error.sa_sigaction = on_bus_error;
  bus_error.sa_flags = SA_SIGINFO;
  sigemptyset(&bus_error.sa_mask);
  sigaction(SIGBUS, &bus_error, nullptr);
#endif
  opening();
  treatment();
  return 0;
}
