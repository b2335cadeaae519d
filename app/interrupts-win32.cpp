// The interrupts on Windows: the console's events (Ctrl-C, Ctrl-Break, the
// console closed, logoff, shutdown), taken by a handler of this program's own.
#include "interrupts.h"

#include <atomic>
#include <cstring>

#include <windows.h>

namespace quorvane {

namespace {

std::atomic<void (*)()> abandon_output{nullptr};

void abandon_once() {
  if (void (*abandon)() = abandon_output.exchange(nullptr)) abandon();
}

std::atomic<bool> held_to_the_end{false};

// Runs on a thread of its own. The process ends as the default handler ends
// it, with STATUS_CONTROL_C_EXIT, but by this handler itself: Wine's default
// handler ends it with status 0, which a calling script would take for a
// finished run.
BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      if (held_to_the_end.load()) return TRUE;  // the run is as good as over
      abandon_once();
      ExitProcess(STATUS_CONTROL_C_EXIT);
    default:
      return FALSE;
  }
}

}  // namespace

void on_interrupt(void (*abandon)()) {
  abandon_output.store(abandon);
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

void hold_interrupts_to_the_end() { held_to_the_end.store(true); }
void release_interrupts() { held_to_the_end.store(false); }

InterruptsHeld::InterruptsHeld() { std::memset(saved_, 0, sizeof saved_); }
InterruptsHeld::~InterruptsHeld() = default;

}  // namespace quorvane
