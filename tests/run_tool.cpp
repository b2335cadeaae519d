#include "run_tool.h"

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace quorvane::testing {

const char* tool_executable() {
  const char* named = std::getenv("QUORVANE_TOOL");
  return named != nullptr && *named != '\0' ? named : QUORVANE_TOOL_EXE;
}

bool under_wine() { return std::getenv("QUORVANE_WINE_TOOL") != nullptr; }

std::string shown_as(const std::string& text) {
  if (!under_wine()) return text;
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return crlf;
}

std::string message_path(const std::string& drive, const std::string& relative,
                         const std::string& composed) {
  return under_wine() ? composed : drive + "/" + relative;
}

std::string refusal_start(const std::string& drive, int drawing, unsigned long long line) {
  const std::string name = drawing == 1 ? "northcn.dxf" : "northha.dxf";
  const std::string composed = "c:\\images\\site4\\" + name;
  return "quorvane_tool: cannot merge " + composed + " (" +
         message_path(drive, "images/site4/" + name, composed) + "): line " + std::to_string(line) +
         ": ";
}

namespace {

// Makes the Wine prefix's c:\images lead to <drive>/images.
void point_wine_images_at(const std::string& drive) {
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix == nullptr) throw std::runtime_error("WINEPREFIX is not set");
  std::filesystem::path images = std::filesystem::path(prefix) / "drive_c" / "images";
  std::filesystem::create_directories(drive + "/images");
  std::filesystem::remove(images);
  std::filesystem::create_directory_symlink(drive + "/images", images);
}

#if defined(__x86_64__)
constexpr unsigned kArchitecture = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr unsigned kArchitecture = AUDIT_ARCH_AARCH64;
#else
constexpr unsigned kArchitecture = 0;
#endif

// From now on, in this process and the program it runs, a pwrite at `from`
// or beyond fails with EIO; false where no such filter can be set.
bool fail_pwrite_from(unsigned long from) {
  if (kArchitecture == 0 || from > 0xffffffffUL) return false;
  constexpr unsigned kOffsetLow = offsetof(seccomp_data, args[3]);  // little-endian: low word first
  constexpr unsigned kOffsetHigh = kOffsetLow + 4;
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArchitecture, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_pwrite64, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kOffsetHigh),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EIO),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kOffsetLow),
      BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, static_cast<unsigned>(from), 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EIO),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

}  // namespace

ToolRun run_tool(const std::string& answers, const RunOptions& options) {
  if (under_wine()) {
    point_wine_images_at(options.drive_c.empty() ? options.folder : options.drive_c);
  }
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe");
  pid_t child = fork();
  if (child == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    if (options.close_stdout) close(1);
    if (options.close_stdin) close(0);
    rlimit no_core{0, 0};  // an interrupt that dumps core leaves no file behind
    setrlimit(RLIMIT_CORE, &no_core);
    if (options.file_size_limit >= 0) {
#if defined(__SANITIZE_THREAD__)
      // ThreadSanitizer's runtime writes a file of its own before main, and
      // would die of the limit before the tool could ignore the signal.
      signal(SIGXFSZ, SIG_IGN);
#endif
      rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                   static_cast<rlim_t>(options.file_size_limit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.memory_limit >= 0) {
      rlimit limit{static_cast<rlim_t>(options.memory_limit),
                   static_cast<rlim_t>(options.memory_limit)};
      setrlimit(RLIMIT_AS, &limit);
    }
    if (options.pwrite_fails_from >= 0 &&
        !fail_pwrite_from(static_cast<unsigned long>(options.pwrite_fails_from))) {
      _exit(125);
    }
    if (!options.stdout_appended_to.empty()) {
      int file = open(options.stdout_appended_to.c_str(), O_WRONLY | O_APPEND);
      dup2(file, 1);
      close(file);
    }
    if (options.stdout_to_full) {
      int full = open("/dev/full", O_WRONLY);
      dup2(full, 1);
      close(full);
    }
    if (chdir(options.folder.c_str()) != 0) _exit(126);
    if (options.drive_c.empty()) {
      unsetenv("QUORVANE_DRIVE_C");
    } else {
      setenv("QUORVANE_DRIVE_C", options.drive_c.c_str(), 1);
    }
    if (!options.temporary_folder.empty()) setenv("TMPDIR", options.temporary_folder.c_str(), 1);
    std::vector<char*> argv;
    if (under_wine()) {
      const char* wine = std::getenv("QUORVANE_WINE");
      setenv("WINEDEBUG", "-all", 1);
      // The locale pinned: names in UTF-8 on this side, Windows-1252 as the ANSI code page.
      unsetenv("LC_ALL");
      setenv("LANG", "C.UTF-8", 1);
      argv = {const_cast<char*>(wine != nullptr ? wine : "wine64"),
              std::getenv("QUORVANE_WINE_TOOL")};
    } else {
      argv = {const_cast<char*>(tool_executable())};
    }
    for (const std::string& argument : options.arguments) {
      argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  signal(SIGPIPE, SIG_IGN);
  fcntl(in[1], F_SETFL, O_NONBLOCK);
  ToolRun run;
  std::size_t sent = 0;
  if (answers.empty()) {
    close(in[1]);
    in[1] = -1;
  }
  auto started = std::chrono::steady_clock::now();
  auto deadline = started + std::chrono::seconds(30);
  std::thread beside;
  if (options.beside) beside = std::thread(options.beside, static_cast<int>(child));
  bool held = options.hold_at.empty();
  bool out_open = out[0] >= 0, err_open = true;
  int status = 0;
  bool exited = false;
  std::chrono::steady_clock::time_point exit_time;
  while (out_open || err_open) {
    // Helpers the tool leaves behind (Wine's) may hold the pipes open: once it
    // has exited, what it wrote is read for a moment longer, then no more.
    if (!exited && waitpid(child, &status, WNOHANG) == child) {
      exited = true;
      exit_time = std::chrono::steady_clock::now();
    }
    if (exited && std::chrono::steady_clock::now() - exit_time > std::chrono::milliseconds(300)) {
      break;
    }
    pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
    if (!out_open) fds[0].fd = -1;
    if (!err_open) fds[1].fd = -1;
    if (poll(fds, 3, 50) < 0) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      break;
    }
    char buffer[65536];
    if (fds[0].revents != 0) {
      // Up to where the run is to be held, and not a byte further.
      std::size_t wanted = sizeof buffer;
      if (!held) wanted = 1;
      ssize_t n = read(out[0], buffer, wanted);
      if (n > 0)
        run.out.append(buffer, static_cast<std::size_t>(n));
      else
        out_open = false;
      if (!held && run.out.size() >= options.hold_at.size() &&
          run.out.compare(run.out.size() - options.hold_at.size(), std::string::npos,
                          options.hold_at) == 0) {
        held = true;
        if (!options.while_held()) {
          close(out[0]);
          out[0] = -1;
          out_open = false;
        }
      }
    }
    if (fds[1].revents != 0) {
      ssize_t n = read(err[0], buffer, sizeof buffer);
      if (n > 0)
        run.err.append(buffer, static_cast<std::size_t>(n));
      else
        err_open = false;
    }
    if (in[1] >= 0 && fds[2].revents != 0) {
      ssize_t n = write(in[1], answers.data() + sent, answers.size() - sent);
      if (n > 0) sent += static_cast<std::size_t>(n);
      if (n < 0 || sent == answers.size()) {
        close(in[1]);
        in[1] = -1;
      }
    }
  }
  if (in[1] >= 0) close(in[1]);
  if (out[0] >= 0) close(out[0]);
  close(err[0]);
  if (!exited) waitpid(child, &status, 0);
  if (beside.joinable()) beside.join();
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return run;
}

std::string hidden_files(const std::string& folder) {
  std::string names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    std::string name = entry.path().filename().string();
    if (name[0] == '.') names += (names.empty() ? "" : " ") + name;
  }
  return names;
}

int open_fifo_for_writing(const std::string& path) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (;;) {
    // Without a reader a FIFO does not open for writing: ENXIO, and again.
    int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) {
      fcntl(fd, F_SETFL, 0);
      return fd;
    }
    if (errno != ENXIO || std::chrono::steady_clock::now() > deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void TempFolder::write(const std::string& relative, const std::string& bytes) const {
  std::filesystem::path file = std::filesystem::path(path_) / relative;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}

std::string TempFolder::read(const std::string& relative) const {
  std::ifstream file(std::filesystem::path(path_) / relative, std::ios::binary);
  if (!file) return "<missing>";
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

bool TempFolder::exists(const std::string& relative) const {
  std::error_code ec;  // a dangling link counts: it is still there
  return std::filesystem::exists(
      std::filesystem::symlink_status(std::filesystem::path(path_) / relative, ec));
}

}  // namespace quorvane::testing
