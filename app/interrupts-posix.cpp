// The interrupts on POSIX systems: SIGINT, SIGTERM, SIGHUP and SIGQUIT, and
// the signal masks that keep them on the main thread.
#include "interrupts.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <pthread.h>
#include <signal.h>

namespace quorvane {

namespace {

std::atomic<void (*)()> abandon_output{nullptr};

void abandon_once() {
  if (void (*abandon)() = abandon_output.exchange(nullptr)) abandon();
}

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

void release_interrupts() {
  sigset_t set = interrupt_set();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
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

}  // namespace quorvane
