// The interrupts an operator or the system sends a run (Ctrl-C, Ctrl-\,
// SIGTERM, SIGHUP; Ctrl-C, Ctrl-Break and closing the console on Windows): the merged
// file being written is abandoned, then the run ends as that interrupt ends
// any program, so that a calling shell sees it.
#ifndef QUORVANE_INTERRUPTS_H
#define QUORVANE_INTERRUPTS_H

#include <thread>
#include <utility>

namespace quorvane {

/// Installs the handlers. `abandon` must be safe to call from a signal
/// handler; it is called once, before the process ends.
void on_interrupt(void (*abandon)());

/// Makes every interrupt from now on wait until the process has ended, and so
/// have no effect: for the moment the merged file takes its name, after which
/// the run is over.
void hold_interrupts_to_the_end();
/// Lets interrupts act again, one held meanwhile at once: for a file written
/// after the one put in place (the picture drawn after a merge).
void release_interrupts();

/// Keeps the interrupt signals away from the calling thread until restored:
/// threads started meanwhile inherit it, so that the handler always runs on
/// the main thread, between two of its own writes.
class InterruptsHeld {
 public:
  InterruptsHeld();
  ~InterruptsHeld();
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;

 private:
  unsigned char saved_[256];  // the signal mask before, as the system keeps it
};

/// Starts `body` on a thread that never takes an interrupt.
template <class F>
std::thread quiet_thread(F&& body) {
  InterruptsHeld held;
  return std::thread(std::forward<F>(body));
}

}  // namespace quorvane

#endif
