// The copy of the second input, which runs beside the copy of the first
// input on a thread of its own, and what it hands the main thread (the
// runner of the passes, passes.h). The
// console and the merged bytes stay those of one pass after the other.
//
//   main thread                          second-copy thread
//   SecondCopyThread(...) ─────────────> copy_second_input into the part
//                                        file, its console text held
//   copies the first input, working out
//   its survey on the way (SurveyShadow)
//   let_write()          ──────────────> writes its console
//   finish()             <────────────── at its end: its fault, if any
//
// Who waits: main for the second copy, once; the second copy for nobody. No
// value read by one pass is ever written by another: a copy writes only what
// it has read itself inside the entities it copies, or it stops at a fault.
// Nothing else is shared: each stream, console and writer belongs to one
// thread until that thread is joined.
//
// A failure: main calls stop() (the destructor does too): the stream ends at
// its next block and the thread is joined. Every thread is joined; none is
// detached.
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

/// The copy of the second input into `part`, a file of its own, appended to
/// the merged file once the copy of the first input is in. Its console text
/// is held until let_write().
class SecondCopyThread {
 public:
  SecondCopyThread(TokenStream& f2, std::FILE* part, Console& console);
  ~SecondCopyThread();
  SecondCopyThread(const SecondCopyThread&) = delete;
  SecondCopyThread& operator=(const SecondCopyThread&) = delete;

  /// Lets the copy write to the console itself from now on.
  void let_write() { may_write_.store(true); }
  /// Waits for the end of the copy, joins its thread and lets out what its
  /// console holds. Returns 0 when the part file holds the whole copy, or
  /// the errno value of the write that failed (the console text is whole
  /// either way: it does not depend on the writes).
  int finish();
  /// Ends the copy early, for a run that fails, and joins its thread.
  void stop();
  /// Gives the part file, whole once finish() has returned 0.
  std::FILE* part() const { return part_; }
  /// Tells where the copy met the first fault of the layout, if it did; after finish().
  const Fault& fault() const { return w_.fault; }
  /// Tells where the vertices it copied lie; after finish().
  const Box& drawn() const { return w_.drawn; }

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
