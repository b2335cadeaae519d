#include "interrupts.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <signal.h>
#endif

namespace quorvane {

namespace {

std::atomic<void (*)()> abandon_output{nullptr};

void abandon_once() {
  if (void (*abandon)() = abandon_output.exchange(nullptr)) abandon();
}

}  // namespace

#ifdef _WIN32

namespace {

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

InterruptsHeld::InterruptsHeld() { std::memset(saved_, 0, sizeof saved_); }
InterruptsHeld::~InterruptsHeld() = default;

#else

namespace {

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void on_signal(int signal) {
  const int saved = errno;
  abandon_once();
  // Ended as the signal ends any program: the shell sees which one.
  std::signal(signal, SIG_DFL);
  sigset_t just;
  sigemptyset(&just);
  sigaddset(&just, signal);
  pthread_sigmask(SIG_UNBLOCK, &just, nullptr);
  raise(signal);
  errno = saved;
}

sigset_t interrupt_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kInterrupts) sigaddset(&set, signal);
  return set;
}

}  // namespace

void on_interrupt(void (*abandon)()) {
  abandon_output.store(abandon);
  struct sigaction action {};
  action.sa_handler = on_signal;
  action.sa_mask = interrupt_set();  // one interrupt at a time
  for (int signal : kInterrupts) {
    struct sigaction before {};
    // A shell starts background jobs with interrupts ignored: they stay ignored.
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

void hold_interrupts_to_the_end() {
  sigset_t set = interrupt_set();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

static_assert(sizeof(sigset_t) <= 256, "room for a signal mask");

InterruptsHeld::InterruptsHeld() {
  sigset_t set = interrupt_set();
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &set, &before);
  std::memcpy(saved_, &before, sizeof before);
}

InterruptsHeld::~InterruptsHeld() {
  sigset_t before;
  std::memcpy(&before, saved_, sizeof before);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

#endif

}  // namespace quorvane
