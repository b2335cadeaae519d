#include "line_writer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>

#include "interrupts.h"

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace quorvane {

namespace {

// Magnitudes of 2^63 and more: significand times a power of two, multiplied
// out in base 10^9.
std::size_t format_large_magnitude(double magnitude, char* out) {
  int exponent = 0;
  double fraction = std::frexp(magnitude, &exponent);
  auto significand = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
  int shift = exponent - 53;  // at least 11 here
  constexpr std::uint64_t kBase = 1000000000;
  std::vector<std::uint64_t> limbs{significand % kBase, significand / kBase % kBase,
                                   significand / kBase / kBase};
  while (shift > 0) {
    int step = std::min(shift, 29);
    shift -= step;
    std::uint64_t carry = 0;
    for (auto& limb : limbs) {
      std::uint64_t v = (limb << step) + carry;
      limb = v % kBase;
      carry = v / kBase;
    }
    while (carry > 0) {
      limbs.push_back(carry % kBase);
      carry /= kBase;
    }
  }
  while (limbs.size() > 1 && limbs.back() == 0) limbs.pop_back();
  std::size_t length = format_unsigned(limbs.back(), out);
  for (auto it = limbs.rbegin() + 1; it != limbs.rend(); ++it) {
    char nine[20];
    std::size_t n = format_unsigned(*it, nine);
    std::memset(out + length, '0', 9 - n);
    std::memcpy(out + length + 9 - n, nine, n);
    length += 9;
  }
  return length;
}

}  // namespace

std::size_t format_integral(double x, char* out) {
  constexpr double kTwo63 = 9223372036854775808.0;
  if (std::fabs(x) < kTwo63) return format_int(static_cast<std::int64_t>(x), out);
  std::size_t sign = 0;
  if (x < 0) out[sign++] = '-';
  return sign + format_large_magnitude(std::fabs(x), out + sign);
}

FileSink::FileSink(std::FILE* file, bool through) : file_(file), through_(through) {
  // The writer hands over whole buffers; a second buffer would only copy them.
  std::setvbuf(file_, nullptr, _IONBF, 0);
}

FileSink::~FileSink() {
  if (file_ != nullptr) std::fclose(file_);
}

int FileSink::write(const char* bytes, std::size_t size) {
  errno = 0;
  if (std::fwrite(bytes, 1, size, file_) == size) {
    end_ += static_cast<std::int64_t>(size);
    return 0;
  }
  return errno != 0 ? errno : EIO;
}

namespace {

int failure() { return errno != 0 ? errno : EIO; }

bool seek(std::FILE* file, std::int64_t offset, int whence) {
#ifdef _WIN32
  return _fseeki64(file, offset, whence) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), whence) == 0;
#endif
}

std::int64_t tell(std::FILE* file) {
#ifdef _WIN32
  return _ftelli64(file);
#else
  return static_cast<std::int64_t>(ftello(file));
#endif
}

// Only a regular file holds older bytes to cut off: a pipe or a device is left as it is.
bool cut(std::FILE* file, std::int64_t size) {
#ifdef _WIN32
  struct _stat64 info;
  if (_fstat64(_fileno(file), &info) != 0 || (info.st_mode & _S_IFREG) == 0) return true;
  return _chsize_s(_fileno(file), size) == 0;
#else
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return true;
  return ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
#endif
}

// Copies [from, from + size) to [to, to + size) within the file; the ranges
// may overlap: pieces go from the end when moving forward, from the start otherwise.
bool move_bytes(std::FILE* file, std::int64_t from, std::int64_t to, std::int64_t size) {
  std::vector<char> piece(1 << 20);
  const auto step = static_cast<std::int64_t>(piece.size());
  for (std::int64_t done = 0; done < size;) {
    std::int64_t n = std::min(step, size - done);
    std::int64_t offset = to > from ? size - done - n : done;
    auto count = static_cast<std::size_t>(n);
    if (!seek(file, from + offset, SEEK_SET) || std::fread(piece.data(), 1, count, file) != count)
      return false;
    if (!seek(file, to + offset, SEEK_SET) || std::fwrite(piece.data(), 1, count, file) != count)
      return false;
    done += n;
  }
  return true;
}

}  // namespace

int FileSink::close() {
  errno = 0;
  if (std::fflush(file_) != 0 || (!through_ && !cut(file_, end_))) {
    int error = failure();
    std::fclose(file_);
    file_ = nullptr;
    return error;
  }
  int result = std::fclose(file_);
  file_ = nullptr;
  if (result == 0) return 0;
  return errno != 0 ? errno : EIO;
}

int FileSink::replace_front(std::size_t old_size, std::string_view bytes) {
  errno = 0;
  const std::int64_t end = end_;
  const auto before = static_cast<std::int64_t>(old_size);
  const auto after = static_cast<std::int64_t>(bytes.size());
  if (end < before) return EIO;
  if (after != before && !move_bytes(file_, before, after, end - before)) return failure();
  if (!seek(file_, 0, SEEK_SET) ||
      std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
    return failure();
  end_ = end - before + after;
  if (!seek(file_, end_, SEEK_SET)) return failure();
  return 0;
}

int FileSink::append_file(std::FILE* part) {
  errno = 0;
  if (std::fflush(part) != 0 || !seek(part, 0, SEEK_END)) return failure();
  const std::int64_t size = tell(part);
  if (size < 0) return failure();
  const std::int64_t at = end_;
  std::int64_t done = 0;
#ifdef __linux__
  // Within the system, without a copy through this process where the file system allows it.
  while (done < size) {
    off64_t from = done, to = at + done;
    ssize_t n = copy_file_range(fileno(part), &from, fileno(file_), &to,
                                static_cast<std::size_t>(size - done), 0u);
    if (n <= 0) break;  // not possible here: the plain way below takes the rest
    done += n;
  }
#endif
  std::vector<char> piece(1 << 20);
  if (!seek(part, done, SEEK_SET) || !seek(file_, at + done, SEEK_SET)) return failure();
  while (done < size) {
    auto n = static_cast<std::size_t>(std::min<std::int64_t>(size - done, 1 << 20));
    if (std::fread(piece.data(), 1, n, part) != n) return failure();
    if (std::fwrite(piece.data(), 1, n, file_) != n) return failure();
    done += static_cast<std::int64_t>(n);
  }
  end_ = at + size;
  if (!seek(file_, end_, SEEK_SET)) return failure();
  return 0;
}

// The thread that writes full buffers out while the next one fills.
struct LineWriter::Background {
  explicit Background(ByteSink& sink) : thread(quiet_thread([this, &sink] { run(sink); })) {}
  ~Background() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stop = true;
    }
    changed.notify_all();
    thread.join();
  }

  /// Hands over a buffer, which must stay untouched until wait() returns.
  void post(const char* bytes, std::size_t size) {
    std::lock_guard<std::mutex> lock(mutex);
    job = bytes;
    job_size = size;
    busy = true;
    changed.notify_all();
  }
  /// Waits for the buffer handed over last; returns the first failure so far, or 0.
  int wait() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return !busy; });
    return error;
  }

 private:
  void run(ByteSink& sink) {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [this] { return busy || stop; });
      if (!busy) return;
      const char* bytes = job;
      std::size_t size = job_size;
      lock.unlock();
      int failure = error == 0 ? sink.write(bytes, size) : 0;
      lock.lock();
      if (error == 0) error = failure;
      busy = false;
      changed.notify_all();
    }
  }

  std::mutex mutex;
  std::condition_variable changed;
  const char* job = nullptr;
  std::size_t job_size = 0;
  bool busy = false;
  bool stop = false;
  int error = 0;
  std::thread thread;  // last: it starts once the rest is ready
};

LineWriter::LineWriter(std::unique_ptr<ByteSink> sink, std::size_t capacity, bool background)
    : sink_(std::move(sink)), buffer_(std::max<std::size_t>(capacity, kIntegralChars + 2)) {
  if (background) {
    spare_.resize(buffer_.size());
    background_ = std::make_unique<Background>(*sink_);
  }
}

// The background writer stops first: it may still be writing out one of the buffers.
LineWriter::~LineWriter() { background_.reset(); }

void LineWriter::settle() {
  if (background_ == nullptr) return;
  if (int failure = background_->wait(); error_ == 0) error_ = failure;
}

void LineWriter::drain() {
  if (used_ == 0) return;
  if (background_ != nullptr) {
    settle();
    if (error_ == 0) {
      buffer_.swap(spare_);
      background_->post(spare_.data(), used_);
    }
  } else if (error_ == 0) {
    error_ = sink_->write(buffer_.data(), used_);
  }
  used_ = 0;
}

void LineWriter::text(std::string_view s) {
  if (s.size() + 2 > buffer_.size() - used_) {
    drain();
    if (s.size() + 2 > buffer_.size()) {  // longer than the buffer: straight through
      settle();
      if (error_ == 0) error_ = sink_->write(s.data(), s.size());
      end_line(room(2));
      return;
    }
  }
  char* out = buffer_.data() + used_;
  std::memcpy(out, s.data(), s.size());
  end_line(out + s.size());
}

int LineWriter::replace_front(std::size_t old_size, std::string_view bytes) {
  drain();
  settle();
  if (error_ == 0) error_ = sink_->replace_front(old_size, bytes);
  return error_;
}

int LineWriter::append_file(std::FILE* part) {
  drain();
  settle();
  if (error_ == 0) error_ = sink_->append_file(part);
  return error_;
}

int LineWriter::flush() {
  drain();
  settle();
  return error_;
}

int LineWriter::close() {
  if (closed_) return error_;
  closed_ = true;
  drain();
  settle();
  background_.reset();
  int closing = sink_->close();
  if (error_ == 0) error_ = closing;
  return error_;
}

}  // namespace quorvane
