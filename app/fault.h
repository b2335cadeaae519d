// How a failure travels in this program; every unit follows these rules.
//
// - A drawing that departs from what its reader or pass can follow is a
//   Fault: the line of the token at fault, and what was expected there. The
//   reader or pass that meets it keeps the first one, stops, and gives it
//   through fault() (a pass of the merge through Working::fault, see
//   passes.h); a function that reads a whole drawing gives it through a
//   `Fault&` parameter, and returns false. Its caller turns it into the
//   run's one line.
// - A system call that fails gives its errno value, 0 meaning none: returned
//   by a function that has nothing else to return; through a last `int&
//   error` by one that returns something else (what it opened, whether it
//   got through); and kept behind error(), the
//   first one only, by an object that makes many calls (a stream, a writer,
//   the console). A failed read ends the reading; a failed write is looked at
//   before the file written is put in place.
// - Units throw nothing and never end the process. A command (the merge in
//   quorvane_tool.cpp, convert_command.cpp, preview_command.cpp) ends a run
//   that cannot go on through run::fail, which says the one line (run.h);
//   so do the handlers of interrupts and of memory refused (run.h,
//   interrupts.h), the only other ends.
#ifndef QUORVANE_FAULT_H
#define QUORVANE_FAULT_H

#include <cstdint>
#include <string>

namespace quorvane {

/// Where a drawing departs from what is read: the first place met, or none.
struct Fault {
  /// The line of the token at fault, from 1, counted by line feeds; 0 when
  /// there is none. For a pair, its code's line or its value's (Group).
  std::uint64_t line = 0;
  std::string what;  ///< what was expected there, or what was found, in plain words
  explicit operator bool() const { return line != 0; }
};

}  // namespace quorvane

#endif
