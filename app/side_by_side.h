// The passes that run beside the copy of the first input, each on a thread
// of its own, and what they hand the main thread, which copies the first
// input. The console and the merged bytes stay those of one pass after the
// other.
//
//   main thread                  survey thread            second-copy thread
//   SurveyThread(...) ─────────> survey_pass
//   SecondCopyThread(...) ───────────────────────────────> copy_second_input
//                                                          into the part file,
//                                                          its console text held
//   header_extents()  <───────── at its first polyline,
//                                or at its end
//   copies the first input
//   finish()          <───────── at its end: extents,
//                                position
//   let_write()       ───────────────────────────────────> writes its console
//   finish()          <─────────────────────────────────── at its end: its
//                                                          fault, if any
//
// Who waits: main for the survey (twice) and for the second copy (once);
// neither of the others waits for anyone. No value read by one pass is ever
// written by another: a copy writes only what it has read itself inside the
// entities it copies, or it stops at a fault. Nothing else is shared: each
// stream, console and writer belongs to one thread until that thread is joined.
//
// A failure: main calls stop() on both (their destructors do too): the
// streams end at their next block and the threads are joined. Every thread
// is joined; none is detached.
#ifndef QUORVANE_SIDE_BY_SIDE_H
#define QUORVANE_SIDE_BY_SIDE_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "console.h"
#include "line_writer.h"
#include "merge_engine.h"
#include "token_stream.h"

namespace quorvane {

/// The survey of the first input. While it runs it alone writes to the
/// console and to the extents.
class SurveyThread : private SurveyWatch {
 public:
  SurveyThread(TokenStream& f1, Extents& extents, Console& console);
  ~SurveyThread();
  SurveyThread(const SurveyThread&) = delete;
  SurveyThread& operator=(const SurveyThread&) = delete;

  /// The extents of the header: as read when the first polyline comes, or at the end.
  Extents header_extents();
  /// True once the survey is over (and its thread may be joined at once).
  bool over();
  /// Waits for the end of the survey and joins its thread; then its results may be read.
  void finish();
  /// Ends the survey early, for a run that fails, and joins its thread.
  void stop();
  /// Where the survey stopped reading; after finish().
  std::uint64_t position() const { return position_; }

 private:
  void entities_reached(const Extents& so_far) override;

  TokenStream& f1_;
  Working w_;
  std::uint64_t position_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  Extents so_far_;
  bool reached_ = false;
  bool over_ = false;
  std::thread thread_;  // last: it starts once the rest is ready
};

/// The copy of the second input into `part`, a file of its own, appended to
/// the merged file once the copy of the first input is in. Its console text
/// is held until let_write().
class SecondCopyThread {
 public:
  SecondCopyThread(TokenStream& f2, std::FILE* part, Console& console);
  ~SecondCopyThread();
  SecondCopyThread(const SecondCopyThread&) = delete;
  SecondCopyThread& operator=(const SecondCopyThread&) = delete;

  /// From now on the copy writes to the console itself.
  void let_write() { may_write_.store(true); }
  /// Waits for the end of the copy, joins its thread and lets out what its
  /// console holds. Returns 0 when the part file holds the whole copy, or
  /// the errno value of the write that failed (the console text is whole
  /// either way: it does not depend on the writes).
  int finish();
  /// Ends the copy early, for a run that fails, and joins its thread.
  void stop();
  /// The part file, whole once finish() has returned 0.
  std::FILE* part() const { return part_; }
  /// Where the copy met the first fault of the layout, if it did; after finish().
  const Fault& fault() const { return w_.fault; }

 private:
  TokenStream& f2_;
  std::FILE* part_;
  LineWriter writer_;
  Console console_;
  std::atomic<bool> may_write_{false};
  Working w_;
  int error_ = 0;
  std::thread thread_;  // last: it starts once the rest is ready
};

}  // namespace quorvane

#endif
