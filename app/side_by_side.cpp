#include "side_by_side.h"

#include "interrupts.h"

namespace quorvane {

SecondCopyThread::SecondCopyThread(TokenStream& f2, std::FILE* part, Console& console)
    : f2_(f2),
      part_(part),
      writer_(std::make_unique<FileSink>(part), LineWriter::kDefaultCapacity, /*background=*/true),
      console_(console, [this] { return may_write_.load(); }) {
  thread_ = quiet_thread([this] {
    copy_second_input(f2_, writer_, w_, console_);
    error_ = writer_.flush();
  });
}

SecondCopyThread::~SecondCopyThread() { stop(); }

int SecondCopyThread::finish() {
  if (thread_.joinable()) thread_.join();
  console_.release();
  return error_;
}

void SecondCopyThread::stop() {
  if (!thread_.joinable()) return;  // over, and its stream may be gone
  f2_.stop();
  thread_.join();
}

}  // namespace quorvane
