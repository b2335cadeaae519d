#include "token_stream.h"

#include "interrupts.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QUORVANE_SSE2 1
#else
#define QUORVANE_SSE2 0
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define QUORVANE_AVX2 1
#else
#define QUORVANE_AVX2 0
#endif

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>

#if !defined(_WIN32)
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#define QUORVANE_MAP 1
#else
#define QUORVANE_MAP 0
#endif

namespace quorvane {

namespace {

constexpr char kCtrlZ = 0x1A;

using token_chars::is_space;
inline bool is_digit(int c) { return c >= '0' && c <= '9'; }

}  // namespace

bool whole_integer(std::string_view token, std::int32_t& value) {
  std::size_t i = !token.empty() && (token[0] == '+' || token[0] == '-') ? 1 : 0;
  if (i == token.size()) return false;
  std::int64_t magnitude = 0;
  for (std::size_t k = i; k < token.size(); ++k) {
    if (!is_digit(token[k])) return false;
    magnitude = std::min<std::int64_t>(magnitude * 10 + (token[k] - '0'), std::int64_t{1} << 32);
  }
  const std::int64_t signed_value = token[0] == '-' ? -magnitude : magnitude;
  if (signed_value < std::numeric_limits<std::int32_t>::min() ||
      signed_value > std::numeric_limits<std::int32_t>::max()) {
    return false;
  }
  value = static_cast<std::int32_t>(signed_value);
  return true;
}

namespace {

// The mapped inputs, for the signal handler: a few slots, each filled once
// its mapping is made and cleared before it goes.
struct MappedSlot {
  std::atomic<const char*> begin{nullptr};
  std::atomic<std::size_t> size{0};
  std::atomic<const char*> note{nullptr};
};
MappedSlot mapped_slots[8];

}  // namespace

const char* mapped_input_note(const void* address) {
  auto at = static_cast<const char*>(address);
  for (MappedSlot& slot : mapped_slots) {
    const char* begin = slot.begin.load();
    if (begin != nullptr && at >= begin && at < begin + slot.size.load()) return slot.note.load();
  }
  return nullptr;
}

FileSource::FileSource(std::FILE* file, std::string fault_note)
    : file_(file), fault_note_(std::move(fault_note)) {
  // The stream reads whole blocks itself; a second buffer would only copy them.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  map();
}

#if QUORVANE_MAP

void FileSource::map() {
  struct stat info;
  if (fstat(fileno(file_), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) return;
  if (static_cast<std::uint64_t>(info.st_size) > SIZE_MAX / 2) return;
  const auto size = static_cast<std::size_t>(info.st_size);
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  // The file's pages, then one page of zeros: the bytes just after the end
  // can be looked at like any others.
  const std::size_t reserved = (size + page - 1) / page * page + page;
  void* room = mmap(nullptr, reserved, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (room == MAP_FAILED) return;
  void* mapped = mmap(room, size, PROT_READ, MAP_SHARED | MAP_FIXED, fileno(file_), 0);
  if (mapped == MAP_FAILED) {
    munmap(room, reserved);
    return;
  }
  madvise(mapped, size, MADV_SEQUENTIAL);
  map_ = static_cast<char*>(mapped);
  size_ = size;
  reserved_ = reserved;
  for (MappedSlot& slot : mapped_slots) {
    const char* empty = nullptr;
    if (slot.begin.load() != nullptr) continue;
    slot.size.store(size_);
    slot.note.store(fault_note_.c_str());
    if (slot.begin.compare_exchange_strong(empty, map_)) break;
  }
}

void FileSource::let_go(std::uint64_t offset) {
  if (map_ == nullptr) return;
  const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  std::uint64_t until = std::min<std::uint64_t>(offset, size_) / page * page;
  // Half a megabyte at a time: each call costs the other processors a flush of their address
  // caches.
  if (until < let_go_ + (std::uint64_t{512} << 10)) return;
  // The pages come back from the file's cache if they are looked at again.
  madvise(map_ + let_go_, static_cast<std::size_t>(until - let_go_), MADV_DONTNEED);
  let_go_ = until;
}

FileSource::~FileSource() {
  if (map_ != nullptr) {
    for (MappedSlot& slot : mapped_slots) {
      if (slot.begin.load() == map_) slot.begin.store(nullptr);
    }
    munmap(map_, reserved_);
  }
  std::fclose(file_);
}

#else

void FileSource::map() {}
void FileSource::let_go(std::uint64_t) {}
FileSource::~FileSource() { std::fclose(file_); }

#endif

ByteSource::Result FileSource::read(char* into, std::size_t size) {
  errno = 0;
  std::size_t count = std::fread(into, 1, size, file_);
  if (count == 0 && std::ferror(file_)) return {0, errno != 0 ? errno : EIO};
  return {count, 0};
}

ByteSource::Result MemorySource::read(char* into, std::size_t size) {
  std::size_t count = std::min(size, bytes_.size());
  std::memcpy(into, bytes_.data(), count);
  bytes_.remove_prefix(count);
  return {count, 0};
}

namespace {

// Masks of the 64 bytes at p, one bit per byte: whitespace (space, or 9 to
// 13), what ends the text (Ctrl-Z or NUL), and line feeds. 64 bytes must be readable.
struct PlainMasks {
  static void of(const char* p, std::uint64_t& space, std::uint64_t& stop, std::uint64_t& feed) {
    space = stop = feed = 0;
    for (int i = 0; i < 64; ++i) {
      space |= static_cast<std::uint64_t>(token_chars::is_space(p[i])) << i;
      stop |= static_cast<std::uint64_t>(p[i] == kCtrlZ || p[i] == '\0') << i;
      feed |= static_cast<std::uint64_t>(p[i] == '\n') << i;
    }
  }
};

#if QUORVANE_SSE2
struct Sse2Masks {
  static void of(const char* p, std::uint64_t& space, std::uint64_t& stop, std::uint64_t& feed) {
    space = stop = feed = 0;
    for (int i = 0; i < 4; ++i) {
      __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
      __m128i blank = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(' '));
      __m128i control = _mm_subs_epu8(_mm_sub_epi8(bytes, _mm_set1_epi8(9)), _mm_set1_epi8(4));
      control = _mm_cmpeq_epi8(control, _mm_setzero_si128());
      auto bits = [](__m128i m) {
        return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(m)));
      };
      space |= bits(_mm_or_si128(blank, control)) << (16 * i);
      stop |= bits(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(kCtrlZ)),
                                _mm_cmpeq_epi8(bytes, _mm_setzero_si128())))
              << (16 * i);
      feed |= bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))) << (16 * i);
    }
  }
};
#endif

#if QUORVANE_AVX2
struct Avx2Masks {
  __attribute__((target("avx2"))) static void of(const char* p, std::uint64_t& space,
                                                 std::uint64_t& stop, std::uint64_t& feed) {
    space = stop = feed = 0;
    for (int i = 0; i < 2; ++i) {
      __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * i));
      __m256i blank = _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(' '));
      __m256i control =
          _mm256_subs_epu8(_mm256_sub_epi8(bytes, _mm256_set1_epi8(9)), _mm256_set1_epi8(4));
      control = _mm256_cmpeq_epi8(control, _mm256_setzero_si256());
      auto bits = [](__m256i m) __attribute__((target("avx2"))) {
        return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(m)));
      };
      space |= bits(_mm256_or_si256(blank, control)) << (32 * i);
      stop |= bits(_mm256_or_si256(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(kCtrlZ)),
                                   _mm256_cmpeq_epi8(bytes, _mm256_setzero_si256())))
              << (32 * i);
      feed |= bits(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\n'))) << (32 * i);
    }
  }
};
#endif

// Writes the positions of the bits of `bits` from `base`; returns how many.
// The first eight are written whatever the count, without a branch for each
// (a loop that ends after a varying count costs a mispredicted branch every
// word): the arrays have room for them past the last one that counts.
inline std::size_t extract(std::uint64_t bits, std::uint32_t base, std::uint32_t* out) {
  const auto count = static_cast<std::size_t>(std::popcount(bits));
  for (int i = 0; i < 8; ++i) {
    out[i] = base + static_cast<std::uint32_t>(std::countr_zero(bits));
    bits &= bits - 1;
  }
  for (std::size_t i = 8; bits != 0; ++i) {
    out[i] = base + static_cast<std::uint32_t>(std::countr_zero(bits));
    bits &= bits - 1;
  }
  return count;
}

// What indexing a block found: where its tokens start and end, and where a
// Ctrl-Z or a NUL ends it, if one does.
struct Indexed {
  std::size_t size;    // the bytes before the Ctrl-Z or NUL, or all of them
  std::size_t opened;  // starts written
  std::size_t closed;  // ends written
  std::size_t lines;   // line feeds among the bytes
  bool stopped;        // a Ctrl-Z or a NUL ends the input here
};
using IndexFunction = Indexed (*)(const char*, std::size_t, bool, std::uint32_t*, std::uint32_t*);

// `open`: the block before ended inside a token, whose end may come first here.
template <class Masks>
[[gnu::always_inline]] inline Indexed index_words(const char* data, std::size_t size, bool open,
                                                  std::uint32_t* starts, std::uint32_t* ends) {
  Indexed found{size, 0, 0, 0, false};
  std::uint64_t before_is_space = open ? 0 : 1;
  for (std::size_t word = 0; word * 64 < found.size; ++word) {
    std::uint64_t space, stop, feed;
    Masks::of(data + word * 64, space, stop, feed);
    std::size_t held = found.size - word * 64;
    std::uint64_t inside = held < 64 ? (std::uint64_t{1} << held) - 1 : ~std::uint64_t{0};
    stop &= inside;
    if (stop != 0) {  // nothing from the Ctrl-Z or NUL on is read
      held = static_cast<std::size_t>(std::countr_zero(stop));
      inside = (std::uint64_t{1} << held) - 1;
      found.size = word * 64 + held;
      found.stopped = true;
    }
    space &= inside;  // nothing after the block ends a token
    found.lines += static_cast<std::size_t>(std::popcount(feed & inside));
    std::uint64_t shifted = space << 1 | before_is_space;
    std::uint64_t begin = ~space & shifted & inside;
    std::uint64_t finish = space & ~shifted;
    before_is_space = space >> 63;
    auto base = static_cast<std::uint32_t>(word * 64);
    found.opened += extract(begin, base, starts + found.opened);
    found.closed += extract(finish, base, ends + found.closed);
    if (found.stopped) break;
  }
  return found;
}

#if QUORVANE_SSE2
Indexed index_narrow(const char* data, std::size_t size, bool open, std::uint32_t* starts,
                     std::uint32_t* ends) {
  return index_words<Sse2Masks>(data, size, open, starts, ends);
}
#else
Indexed index_narrow(const char* data, std::size_t size, bool open, std::uint32_t* starts,
                     std::uint32_t* ends) {
  return index_words<PlainMasks>(data, size, open, starts, ends);
}
#endif

#if QUORVANE_AVX2
__attribute__((target("avx2,bmi"))) Indexed index_wide(const char* data, std::size_t size,
                                                       bool open, std::uint32_t* starts,
                                                       std::uint32_t* ends) {
  return index_words<Avx2Masks>(data, size, open, starts, ends);
}
bool wide_allowed = true;
IndexFunction choose_index() {
  return wide_allowed && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi")
             ? index_wide
             : index_narrow;
}
#else
bool wide_allowed = true;
IndexFunction choose_index() { return index_narrow; }
#endif

}  // namespace

// A block of the input and the index of its tokens.
struct TokenStream::Block {
  std::vector<char> bytes;     // the block when it is read, then 64 bytes that a mask may read
  const char* data = nullptr;  // the block: in bytes, or where the input lies in memory
  std::uint64_t offset = 0;    // where it begins in the input
  std::size_t size = 0;
  // Room for a token at every other byte, left untouched until used: only
  // the pages that the tokens of a block fill take memory.
  std::unique_ptr<std::uint32_t[]> starts, ends;
  std::size_t tokens = 0;          // whole tokens: ends[0 .. tokens) after the run-on one
  std::size_t skip = 0;            // 1 when ends[0] closes a token begun before the block
  std::uint64_t lines_before = 0;  // line feeds in the input before the block
  std::uint64_t lines = 0;         // line feeds in the block
  bool last = false;               // nothing comes after it
  bool nul = false;                // a NUL ends it
  bool text_after = false;         // a Ctrl-Z ends it, and more than blanks follow
  int error = 0;
};
// Reads the input block by block and indexes the tokens of each block: where
// each starts and ends, a token that runs on from the block before being left
// out. On its own thread it keeps up to kAhead blocks ready; without one it
// reads when asked.
class TokenStream::BlockReader {
 public:
  BlockReader(std::unique_ptr<ByteSource> source, std::size_t size, bool background)
      : source_(std::move(source)), whole_(source_->whole()), size_(size) {
    // Read when asked, the stream only ever uses the first block.
    make_blocks(1);
    if (background) start_background();
  }

  /// From now on blocks are read ahead on a thread; before the first next().
  void start_background() {
    if (thread_.joinable() || started_) return;
    make_blocks(kBlocks);
    thread_ = quiet_thread([this] { run(); });
  }

  ~BlockReader() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  void make_blocks(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      if (blocks_[i].starts != nullptr) continue;
      if (whole_.data() == nullptr) blocks_[i].bytes.resize(size_ + 64);
      // A token at most for every other byte, and room for a last word's eight.
      blocks_[i].starts.reset(new std::uint32_t[size_ / 2 + 2 + 8]);
      blocks_[i].ends.reset(new std::uint32_t[size_ / 2 + 2 + 8]);
    }
  }

  /// True when the blocks lie where the input lies in memory, one after the other.
  bool in_place() const { return whole_.data() != nullptr; }

  /// The next block; the one handed out before it goes back to be refilled.
  /// Nothing before `keep_from` in the input will be looked at again.
  const Block& next(std::uint64_t keep_from) {
    started_ = true;
    if (!thread_.joinable()) {
      keep_from_ = keep_from;
      fill(blocks_[0]);
      return blocks_[0];
    }
    std::unique_lock<std::mutex> lock(mutex_);
    keep_from_ = keep_from;
    if (holding_) {
      taken_ = (taken_ + 1) % kBlocks;
      --ready_;
      changed_.notify_all();
    }
    changed_.wait(lock, [this] { return ready_ > 0; });
    holding_ = true;
    return blocks_[taken_];
  }

 private:
  static constexpr std::size_t kBlocks = 3;  // one held by the stream, two ahead
  static constexpr std::uint64_t kLag = 512 << 10;

  void run() {
    std::size_t filled = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      // The slot after the last one filled is free once fewer than kBlocks are ready.
      changed_.wait(lock, [this] { return stop_ || ready_ < kBlocks; });
      if (stop_) return;
      std::uint64_t keep_from = keep_from_;
      lock.unlock();
      fill(blocks_[filled], keep_from);
      lock.lock();
      filled = (filled + 1) % kBlocks;
      ++ready_;
      changed_.notify_all();
    }
  }

  void fill(Block& block) { fill(block, keep_from_); }
  void fill(Block& block, std::uint64_t keep_from) {
    if (in_place() && keep_from > kLag) source_->let_go(keep_from - kLag);
    block.offset = offset_;
    block.size = 0;
    block.tokens = 0;
    block.skip = 0;
    block.lines_before = lines_;
    block.lines = 0;
    block.last = ended_;
    block.nul = false;
    block.text_after = false;
    block.error = 0;
    if (ended_) return;
    ByteSource::Result got{};
    if (in_place()) {
      block.data = whole_.data() + offset_;
      got.count = std::min<std::uint64_t>(size_, whole_.size() - offset_);
    } else {
      block.data = block.bytes.data();
      got = source_->read(block.bytes.data(), size_);
    }
    if (got.error != 0) {
      block.error = got.error;
      got.count = 0;
    }
    offset_ += got.count;
    const bool run_on = open_;
    Indexed found = index_(block.data, got.count, open_, block.starts.get(), block.ends.get());
    if (found.stopped || found.size == 0) ended_ = true;
    block.nul = found.stopped && block.data[found.size] == '\0';
    if (found.stopped && !block.nul) {
      block.text_after = text_after(block.data + found.size + 1, got.count - found.size - 1);
    }
    block.size = found.size;
    block.lines = found.lines;
    lines_ += found.lines;
    block.last = ended_;
    if (block.size > 0) open_ = !token_chars::is_space(block.data[block.size - 1]);
    // The first end closes the token begun before the block.
    block.skip = run_on && found.closed > 0 ? 1 : 0;
    block.tokens = found.closed - block.skip;
  }

  // After a Ctrl-Z: whether anything but blanks, Ctrl-Z and NUL bytes
  // follows it, in the `count` bytes at `rest` and in the input after them.
  bool text_after(const char* rest, std::size_t count) {
    auto padding = [](const char* bytes, std::size_t n) {
      for (std::size_t i = 0; i < n; ++i) {
        if (!token_chars::is_space(bytes[i]) && bytes[i] != kCtrlZ && bytes[i] != '\0') return false;
      }
      return true;
    };
    if (!padding(rest, count)) return true;
    if (in_place()) return !padding(whole_.data() + offset_, whole_.size() - offset_);
    std::vector<char> more(size_);
    for (ByteSource::Result got; (got = source_->read(more.data(), more.size())).count > 0;) {
      if (!padding(more.data(), got.count)) return true;
    }
    return false;
  }

  std::unique_ptr<ByteSource> source_;
  std::string_view whole_;  // the input, when it lies in memory
  std::size_t size_;
  std::uint64_t offset_ = 0;  // where the next block begins
  std::uint64_t lines_ = 0;   // line feeds before it
  Block blocks_[kBlocks];
  bool ended_ = false;  // the source has given all it has
  bool open_ = false;   // the last block read ends inside a token
  IndexFunction index_ = choose_index();
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t ready_ = 0;        // blocks filled and not yet given back
  std::uint64_t keep_from_ = 0;  // where the stream may still look
  bool started_ = false;         // a block has been asked for
  std::size_t taken_ = 0;        // the block handed out, or to be handed out next
  bool holding_ = false;
  bool stop_ = false;
};

TokenStream::TokenStream(std::unique_ptr<ByteSource> source, std::size_t block, bool prefetch)
    : reader_(std::make_unique<BlockReader>(std::move(source), std::max<std::size_t>(block, 1),
                                            prefetch)),
      buffer_(reader_->in_place() ? 0 : std::max<std::size_t>(block, 1) + kSlack),
      data_(reader_->in_place() ? nullptr : buffer_.data()),
      in_place_(reader_->in_place()) {}

TokenStream::~TokenStream() = default;

void TokenStream::allow_wide_index(bool allowed) { wide_allowed = allowed; }

void TokenStream::read_ahead() { reader_->start_background(); }

// After a general path has moved pos_: the first token that ends after it.
// Before indexed_from_ (in the bytes kept from the block before, or in a
// token begun there) the index does not hold the token at pos_: the general
// paths read on until they are past it.
void TokenStream::mend_cursor() {
  if (pos_ < indexed_from_) {
    cursor_ = tokens_;
    return;
  }
  auto relative = static_cast<std::uint32_t>(pos_ - base_);
  cursor_ = static_cast<std::size_t>(std::upper_bound(ends_, ends_ + tokens_, relative) - ends_);
}

// Brings the next block in after end_, keeping the bytes from mark_ on (moved
// to the front). Returns false when nothing more can come.
bool TokenStream::refill() {
  if (stop_.load(std::memory_order_relaxed)) ended_ = true;
  if (ended_) return false;
  // The held offset's line is counted while its bytes are still at hand.
  if (holding_ && held_line_ == 0) held_line_ = line_of(held_from_);
  if (in_place_) {
    // The blocks follow one another where the input lies: positions are offsets in it.
    const Block& block = reader_->next(mark_);
    data_ = block.data - block.offset;
    take_index(block);
    return block.size > 0;
  }
  // The bytes before the item being read go, or before pos_ while looking ahead.
  std::size_t drop = keeping_ ? std::min(mark_, pos_) : mark_;
  if (drop > 0) {
    std::memmove(buffer_.data(), buffer_.data() + drop, end_ - drop);
    origin_ += drop;
    pos_ -= drop;
    end_ -= drop;
    mark_ -= drop;
  }
  const Block& block = reader_->next(origin_);
  // Past the capacity lie kSlack bytes that short tokens may be copied from.
  std::size_t capacity = buffer_.size() - kSlack;
  if (capacity < end_ + block.size) {
    buffer_.resize(std::max(capacity * 2, end_ + block.size) + kSlack);
  }
  std::memcpy(buffer_.data() + end_, block.data, block.size);
  data_ = buffer_.data();
  take_index(block);
  return block.size > 0;
}

// The block, just placed at end_, becomes the one the index speaks of.
void TokenStream::take_index(const Block& block) {
  base_ = end_;
  indexed_from_ = base_ + (block.skip != 0 ? block.ends[0] : 0);
  starts_ = block.starts.get();
  ends_ = block.ends.get() + block.skip;
  tokens_ = block.tokens;
  end_ += block.size;
  block_offset_ = block.offset;
  block_lines_ = block.lines_before;
  if (block.last) lines_in_input_ = block.lines_before + block.lines;
  if (block.error != 0) error_ = block.error;
  if (block.nul) stopped_at_nul_ = true;
  if (block.text_after) text_after_stop_ = true;
  ended_ = block.last;
  mend_cursor();
}

// The next byte, left in place, or -1 at the end of the input (which sets eof).
inline int TokenStream::look() {
  if (pos_ < end_ || refill()) return static_cast<unsigned char>(data_[pos_]);
  if (error_ == 0) eof_ = true;
  return -1;
}

bool TokenStream::skip_space() {
  for (;;) {
    const char* data = data_;
    std::size_t p = pos_;
    while (p < end_ && is_space(data[p])) ++p;
    pos_ = mark_ = p;
    if (p < end_) return true;
    if (!refill()) {
      if (error_ == 0) eof_ = true;
      return false;
    }
  }
}

bool TokenStream::next_token_general(const char*& first, const char*& last) {
  if (!skip_space()) return false;
  for (;;) {
    const char* data = data_;
    std::size_t p = pos_;
    while (p < end_ && !is_space(data[p])) ++p;
    pos_ = p;
    if (p < end_) break;
    if (!refill()) {
      if (error_ == 0) eof_ = true;
      break;
    }
  }
  first = data_ + mark_;
  last = data_ + pos_;
  return true;
}

bool TokenStream::read_int_general(std::int32_t& val) {
  if (!skip_space()) return false;
  int c = look();
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    ++pos_;
    c = look();
  }
  if (!is_digit(c)) return false;  // a lone sign stays consumed
  constexpr std::uint64_t kBeyond = std::uint64_t{1} << 31;
  std::uint64_t magnitude = 0;
  do {
    if (magnitude <= kBeyond) magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
    ++pos_;
    c = look();
  } while (is_digit(c));
  overflowed_ = negative ? magnitude > kBeyond : magnitude >= kBeyond;
  if (negative) {
    val = magnitude >= kBeyond ? std::numeric_limits<std::int32_t>::min()
                               : -static_cast<std::int32_t>(magnitude);
  } else {
    val = magnitude >= kBeyond ? std::numeric_limits<std::int32_t>::max()
                               : static_cast<std::int32_t>(magnitude);
  }
  return true;
}

bool TokenStream::read_real_general(double& dval) {
  if (!skip_space()) return false;
  // Offsets are kept from mark_, which stays at the start of the item when the buffer moves.
  int c = look();
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    ++pos_;
    c = look();
  }
  std::size_t digits = 0;
  while (is_digit(c)) {
    ++digits;
    ++pos_;
    c = look();
  }
  if (c == '.') {
    ++pos_;
    c = look();
    while (is_digit(c)) {
      ++digits;
      ++pos_;
      c = look();
    }
  }
  if (digits == 0) return false;  // "-", ".", "-." stay consumed
  std::size_t number_end = pos_ - mark_;
  if (c == 'e' || c == 'E') {
    ++pos_;
    c = look();
    if (c == '+' || c == '-') {
      ++pos_;
      c = look();
    }
    bool exponent_digits = false;
    while (is_digit(c)) {
      exponent_digits = true;
      ++pos_;
      c = look();
    }
    if (exponent_digits) number_end = pos_ - mark_;
  }
  const char* first = data_ + mark_ + (data_[mark_] == '+' || negative ? 1 : 0);
  dval = convert_real(first, data_ + mark_ + number_end, negative);
  return true;
}

bool TokenStream::next_token_slow(const char*& first, const char*& last) {
  bool ok = next_token_general(first, last);
  mend_cursor();
  return ok;
}

bool TokenStream::read_int_slow(std::int32_t& val) {
  bool ok = read_int_general(val);
  mend_cursor();
  return ok;
}

bool TokenStream::read_whole_real_slow(double& dval) {
  if (!read_real_slow(dval) || !took_whole()) return false;
  const char last = data_[pos_ - 1];  // not an exponent marker nor its sign
  return (last >= '0' && last <= '9') || last == '.';
}

bool TokenStream::read_real_slow(double& dval) {
  bool ok = read_real_general(dval);
  mend_cursor();
  return ok;
}

bool TokenStream::begins_with(std::string_view bytes) {
  while (end_ < bytes.size() && refill()) {
  }
  return end_ >= bytes.size() && std::memcmp(data_, bytes.data(), bytes.size()) == 0;
}

TokenStream::Held TokenStream::next_held(std::uint64_t& at, std::uint64_t until,
                                         std::string_view& token) {
  // Offsets in the input, as refill may move the bytes held in the buffer.
  auto in_buffer = [this](std::uint64_t offset) { return static_cast<std::size_t>(offset - origin_); };
  for (;;) {
    while (in_buffer(at) < end_ && is_space(data_[in_buffer(at)]) && at < until) ++at;
    if (at >= until) return Held::kBeyond;
    if (in_buffer(at) < end_) break;
    if (!refill()) return Held::kEnd;
  }
  const std::uint64_t start = at;
  for (;;) {
    while (in_buffer(at) < end_ && !is_space(data_[in_buffer(at)]) && at < until) ++at;
    if (at >= until) return Held::kBeyond;
    if (in_buffer(at) < end_ || !refill()) break;
  }
  token = std::string_view(data_ + in_buffer(start), static_cast<std::size_t>(at - start));
  return Held::kToken;
}

std::uint64_t TokenStream::line_of(std::uint64_t offset) const {
  if (holding_ && offset == held_from_ && held_line_ != 0) return held_line_;
  // The line feeds between the block's start and the offset, on the side it lies.
  const char* at = data_ + (offset - origin_);
  const char* block = data_ + (block_offset_ - origin_);
  if (offset >= block_offset_)
    return block_lines_ + static_cast<std::uint64_t>(std::count(block, at, '\n')) + 1;
  return block_lines_ - static_cast<std::uint64_t>(std::count(at, block, '\n')) + 1;
}

std::uint64_t TokenStream::token_after(std::uint64_t offset) const {
  // A read that went through the general paths skipped the blanks up to
  // mark_ already: they are not looked at again (a drawing may hold
  // gigabytes of them).
  std::size_t at = offset > origin_ ? static_cast<std::size_t>(offset - origin_) : 0;
  at = std::max(at, std::min(mark_, pos_));
  while (at < end_ && is_space(data_[at])) ++at;
  return at < end_ ? origin_ + at : kNoToken;
}

std::string_view TokenStream::text_at(std::uint64_t offset) const {
  const char* first = data_ + (offset - origin_);
  const char* last = first;
  while (last < data_ + end_ && !is_space(*last)) ++last;
  return {first, static_cast<std::size_t>(last - first)};
}

double TokenStream::convert_real(const char* first, const char* last, bool negative) {
  double value = 0;
  auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
  if (ec != std::errc() || ptr != last) {
    // Overflow and underflow: the C library's answers (infinity, zero or the nearest denormal).
    std::string copy(first, last);
    value = std::strtod(copy.c_str(), nullptr);
  }
  return negative ? -value : value;
}

}  // namespace quorvane
