#include "side_by_side.h"

#include "interrupts.h"

namespace quorvane {

SurveyThread::SurveyThread(TokenStream& f1, Extents& extents, Console& console)
    : f1_(f1), thread_(quiet_thread([this, &extents, &console] {
        survey_pass(f1_, w_, extents, console, this);
        position_ = f1_.position();
        std::lock_guard<std::mutex> lock(mutex_);
        so_far_ = extents;
        over_ = true;
        changed_.notify_all();
      })) {}

SurveyThread::~SurveyThread() { stop(); }

void SurveyThread::entities_reached(const Extents& so_far) {
  std::lock_guard<std::mutex> lock(mutex_);
  so_far_ = so_far;
  reached_ = true;
  changed_.notify_all();
}

Extents SurveyThread::header_extents() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return reached_ || over_; });
  return so_far_;
}

bool SurveyThread::over() {
  std::lock_guard<std::mutex> lock(mutex_);
  return over_;
}

void SurveyThread::finish() {
  if (thread_.joinable()) thread_.join();
}

void SurveyThread::stop() {
  if (!thread_.joinable()) return;  // over, and its stream may be gone
  f1_.stop();
  thread_.join();
}

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
