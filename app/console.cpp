#include "console.h"

#include <cerrno>
#include <cstring>

#include "line_writer.h"
#include "text_encoding.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif
#define QUORVANE_ISATTY _isatty
#define QUORVANE_FILENO _fileno
#else
#include <unistd.h>
#define QUORVANE_ISATTY isatty
#define QUORVANE_FILENO fileno
#endif

namespace quorvane {

namespace {

constexpr std::size_t kBoxInside = 57;

std::string box_line(std::string_view inside) { return "\n\t*" + std::string(inside) + "*"; }

// A credit line: the text pushed right, ending `right` spaces before the closing asterisk.
std::string credit_line(std::string_view text, std::size_t right) {
  return box_line(std::string(kBoxInside - right - text.size(), ' ') + std::string(text) +
                  std::string(right, ' '));
}

}  // namespace

std::string banner() {
  const std::string stars = "\n\t" + std::string(kBoxInside + 2, '*');
  const std::string empty = box_line(std::string(kBoxInside, ' '));
  std::string text = stars + empty + empty;
  text += box_line(std::string(24, ' ') + "QUORVANE_TOOL" + std::string(20, ' '));
  for (int i = 0; i < 5; ++i) text += empty;
  text += credit_line("Polylines of cn.dxf and ha.dxf, merged", 4);
  text += credit_line("Quorvane tool team, 2026", 3);
  text += empty + stars;
  return text;
}

std::string fixed6(double v) {
  int size = std::snprintf(nullptr, 0, "%f", v);
  std::string text(static_cast<std::size_t>(size) + 1, '\0');
  std::snprintf(text.data(), text.size(), "%f", v);
  text.resize(static_cast<std::size_t>(size));
  return text;
}

Console::Console(std::FILE* out, std::FILE* in) : out_(out), in_(in) {
  terminal_ = QUORVANE_ISATTY(QUORVANE_FILENO(out_)) != 0;
#ifdef _WIN32
  // A console that does not take the escape that clears a line gets spaces over the old count.
  if (terminal_) {
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out_)));
    DWORD mode = 0;
    if (!GetConsoleMode(handle, &mode) ||
        !SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
      clear_ = "            ";
    }
  }
#endif
  if (terminal_) {
    std::setvbuf(out_, nullptr, _IONBF, 0);
  } else {
    std::setvbuf(out_, nullptr, _IOFBF, 64 * 1024);
  }
}

Console::Console(Console& target, std::function<bool()> may_write)
    : out_(nullptr), in_(nullptr), target_(&target), may_write_(std::move(may_write)) {}

// True while text must still be held; passes it on when that ends.
bool Console::holding() {
  if (may_write_ == nullptr) return false;
  if (!may_write_()) return true;
  release();
  return false;
}

void Console::release() {
  may_write_ = nullptr;
  for (const Held& held : kept_) {
    if (held.last < held.first) {
      target_->write(held.text);
    } else {
      for (std::int64_t count = held.first; count <= held.last; ++count) {
        target_->progress(held.lead, count, held.tail);
      }
    }
  }
  kept_.clear();
}

void Console::write(std::string_view text) {
  if (target_ != nullptr) {
    if (holding()) {
      kept_.push_back(Held{std::string(text), "", "", 0, -1});
    } else {
      target_->write(text);
    }
    return;
  }
  draw_held();
  put(text);
}

void Console::draw_held() {
  if (held_.empty()) return;
  put(held_);
  held_.clear();
}

#ifdef _WIN32

namespace {

// A Windows console takes UTF-16 text; anything else gets UTF-8 bytes.
HANDLE console_of(std::FILE* stream) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? handle : nullptr;
}

bool write_console(HANDLE console, std::string_view text) {
  std::fflush(nullptr);
  const std::wstring wide = widen(text);
  DWORD written = 0;
  return wide.empty() ||
         (WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) &&
          written == wide.size());
}

}  // namespace

#endif

void write_error_line(std::string_view line) {
#ifdef _WIN32
  if (HANDLE console = console_of(stderr)) {
    write_console(console, line);
    return;
  }
#endif
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void Console::put(std::string_view text) {
  if (error_ != 0) return;
#ifdef _WIN32
  if (HANDLE console = terminal_ ? console_of(out_) : nullptr) {
    if (!write_console(console, text)) error_ = EIO;
    return;
  }
#endif
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), out_) != text.size()) {
    error_ = errno != 0 ? errno : EIO;
  }
}

bool Console::flush() {
  draw_held();
  if (error_ == 0) {
    errno = 0;
    if (std::fflush(out_) != 0) error_ = errno != 0 ? errno : EIO;
  }
  return error_ == 0;
}

void Console::prompt(std::string_view text) {
  write(text);
  flush();
}

bool Console::answer(std::string& word) {
#ifdef _WIN32
  // Typed at a console: read as UTF-16, a line at a time.
  if (HANDLE console = console_of(in_)) {
    word.clear();
    for (;;) {
      std::size_t start = typed_.find_first_not_of(" \t\n\r\v\f");
      if (start != std::string::npos) {
        std::size_t end = typed_.find_first_of(" \t\n\r\v\f", start);
        if (end != std::string::npos) {
          word = typed_.substr(start, end - start);
          typed_.erase(0, end);
          return true;
        }
      }
      wchar_t line[1024];
      DWORD read = 0;
      if (!ReadConsoleW(console, line, 1024, &read, nullptr)) {
        input_error_ = EIO;
        return false;
      }
      if (read == 0 || (read >= 1 && line[0] == 0x1A)) {  // Ctrl-Z: the answers end
        if (start == std::string::npos) return false;
        word = typed_.substr(start);
        typed_.clear();
        return true;
      }
      typed_ += narrow(std::wstring_view(line, read));
    }
  }
#endif
  word.clear();
  int c;
  errno = 0;
  do {
    c = std::getc(in_);
  } while (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f');
  while (c != EOF && !(c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')) {
    word.push_back(static_cast<char>(c));
    c = std::getc(in_);
  }
  if (c != EOF) std::ungetc(c, in_);
  if (std::ferror(in_)) input_error_ = errno != 0 ? errno : EIO;
#ifdef _WIN32
  word = answer_as_utf8(word);  // UTF-8 as it stands, or the ANSI code page's
#endif
  return !word.empty() && input_error_ == 0;
}

void Console::progress(std::string_view lead, std::int64_t count, std::string_view tail) {
  if (target_ != nullptr) {
    if (!holding()) {
      target_->progress(lead, count, tail);
    } else if (!kept_.empty() && kept_.back().last >= kept_.back().first &&
               kept_.back().lead == lead && kept_.back().tail == tail &&
               kept_.back().last + 1 == count) {
      kept_.back().last = count;  // the lines of a pass follow one another
    } else {
      kept_.push_back(Held{"", std::string(lead), std::string(tail), count, count});
    }
    return;
  }
  char line[64];
  std::memcpy(line, lead.data(), lead.size());
  std::size_t length = lead.size() + format_int(count, line + lead.size());
  std::memcpy(line + length, tail.data(), tail.size());
  std::string_view text(line, length + tail.size());
  if (!terminal_) {
    put(text);
    return;
  }
  // From column 0, the rest of the line cleared.
  std::memmove(line + 1, line, length);
  line[0] = '\r';
  std::memcpy(line + 1 + length, clear_.data(), clear_.size());
  text = std::string_view(line, 1 + length + clear_.size());
  auto now = std::chrono::steady_clock::now();
  if (now - drawn_ < kRedraw) {
    held_.assign(text);
    return;
  }
  held_.clear();
  put(text);
  drawn_ = now;
}

}  // namespace quorvane
