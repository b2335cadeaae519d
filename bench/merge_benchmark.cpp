// Runs the whole tool on generated pairs of drawings and compares it with the
// fscanf baseline on the same files, in the same run:
//
//   merge_benchmark [folder] [megabytes per input ...]
//
// For each size: input MB (both drawings), wall time (best of three runs),
// MB/s of input, peak resident memory, the baseline's wall time, the ratio,
// and whether both merged files are the same bytes; then the conversion of
// the first drawing (convert cn): its wall time (best of three), MB/s of its
// input and peak resident memory; then the picture of the merged file
// (preview): its wall time (best of three), peak memory and size. The pairs are generated in <folder>
// (default /tmp/quorvane-bench) on first use and kept. Then one LWPOLYLINE of
// ten million vertices, its extrusion after them, converted (best of three):
// wall time and peak memory. Last, a first drawing refused after a billion
// blank lines (1 GB): wall time and peak memory.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Measure {
  double seconds = 0;
  double peak_mib = 0;
  int status = -1;
};

// Runs argv with `input` on standard input and standard output discarded.
Measure run(const std::vector<std::string>& argv, const std::string& input,
            const std::string& drive_c) {
  int in[2];
  if (pipe(in) != 0) std::exit(1);
  auto start = std::chrono::steady_clock::now();
  pid_t child = fork();
  if (child == 0) {
    dup2(in[0], 0);
    close(in[0]);
    close(in[1]);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    if (!drive_c.empty()) setenv("QUORVANE_DRIVE_C", drive_c.c_str(), 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  if (write(in[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) std::exit(1);
  close(in[1]);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  Measure m;
  m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.peak_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;
  m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return m;
}

bool same_bytes(const fs::path& a, const fs::path& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  std::vector<char> p(1 << 20), q(1 << 20);
  while (x && y) {
    x.read(p.data(), static_cast<std::streamsize>(p.size()));
    y.read(q.data(), static_cast<std::streamsize>(q.size()));
    if (x.gcount() != y.gcount() || !std::equal(p.begin(), p.begin() + x.gcount(), q.begin()))
      return false;
  }
  return !x && !y;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path folder = argc > 1 ? argv[1] : "/tmp/quorvane-bench";
  std::vector<std::string> sizes;
  for (int i = 2; i < argc; ++i) sizes.emplace_back(argv[i]);
  if (sizes.empty()) sizes = {"10", "200", "1024"};

  std::printf("%8s %10s %9s %9s %10s %11s %8s %6s %10s %10s %10s %10s %10s %10s\n", "MB each",
              "input MB", "tool s", "MB/s", "peak MiB", "fscanf s", "ratio", "same", "convert s",
              "conv MB/s", "conv MiB", "preview s", "prev MiB", "SVG KB");
  for (const std::string& size : sizes) {
    std::string name = "p" + size;
    fs::path first = folder / "images" / "bench" / (name + "cn.dxf");
    fs::path second = folder / "images" / "bench" / (name + "ha.dxf");
    if (!fs::exists(first) || !fs::exists(second)) {
      run({QUORVANE_GENERATOR, folder.string(), size, name}, "", "");
    }
    double input_mb = static_cast<double>(fs::file_size(first) + fs::file_size(second)) / 1e6;
    std::string answers = "bench\n" + name + "\n" + name + "\n" + name + "\n";
    Measure best;
    double peak = 0;
    for (int round = 0; round < 3; ++round) {
      Measure m = run({QUORVANE_TOOL_EXE}, answers, folder.string());
      if (m.status != 0) {
        std::fprintf(stderr, "the tool failed on %s\n", first.c_str());
        return 1;
      }
      if (round == 0 || m.seconds < best.seconds) best = m;
      peak = std::max(peak, m.peak_mib);
    }
    fs::path baseline_output = folder / "images" / "bench" / (name + "baseline.dxf");
    Measure base =
        run({QUORVANE_BASELINE, first.string(), second.string(), baseline_output.string()}, "", "");
    bool same = same_bytes(folder / "images" / "bench" / (name + "cnha.dxf"), baseline_output);
    // The first drawing converted, as a drawing of another program would be.
    const fs::path converted = folder / "images" / "bench" / (name + "converted.dxf");
    Measure conversion;
    double conversion_peak = 0;
    for (int round = 0; round < 3; ++round) {
      Measure m =
          run({QUORVANE_TOOL_EXE, "convert", "cn", first.string(), converted.string()}, "", "");
      if (m.status != 0) {
        std::fprintf(stderr, "the tool failed to convert %s\n", first.c_str());
        return 1;
      }
      if (round == 0 || m.seconds < conversion.seconds) conversion = m;
      conversion_peak = std::max(conversion_peak, m.peak_mib);
    }
    const double first_mb = static_cast<double>(fs::file_size(first)) / 1e6;
    // The picture of the merged file (best of three).
    const fs::path merged = folder / "images" / "bench" / (name + "cnha.dxf");
    const fs::path picture = folder / "images" / "bench" / (name + ".svg");
    Measure drawing;
    for (int round = 0; round < 3; ++round) {
      Measure m = run({QUORVANE_TOOL_EXE, "preview", merged.string(), picture.string()}, "", "");
      if (m.status != 0) {
        std::fprintf(stderr, "the tool failed to draw %s\n", merged.c_str());
        return 1;
      }
      if (round == 0 || m.seconds < drawing.seconds) drawing = m;
    }
    std::printf("%8s %10.1f %9.3f %9.1f %10.1f %11.3f %8.1f %6s %10.3f %10.1f %10.1f %10.3f %10.1f %10.0f\n",
                size.c_str(), input_mb, best.seconds, input_mb / best.seconds, peak, base.seconds,
                base.seconds / best.seconds, same ? "yes" : "NO", conversion.seconds,
                first_mb / conversion.seconds, conversion_peak, drawing.seconds, drawing.peak_mib,
                static_cast<double>(fs::file_size(picture)) / 1e3);
    fs::remove(picture);
    fs::remove(converted);
    std::fflush(stdout);
    fs::remove(baseline_output);
  }

  // One LWPOLYLINE of ten million vertices (about 120 MB), whose extrusion
  // comes after them: converted in bounded memory.
  const fs::path long_one = folder / "images" / "bench" / "lwpolyline10m.dxf";
  if (!fs::exists(long_one)) {
    std::ofstream out(long_one, std::ios::binary);
    out << "0\nSECTION\n2\nENTITIES\n0\nLWPOLYLINE\n8\nL\n90\n10000000\n70\n0\n";
    std::string piece;
    for (int i = 0; i < 10000000; ++i) {
      piece += "10\n" + std::to_string(i % 1000) + "\n20\n" + std::to_string(i / 1000 % 100) + "\n";
      if (piece.size() > (1 << 20)) {
        out << piece;
        piece.clear();
      }
    }
    out << piece << "210\n0\n220\n0\n230\n1\n0\nENDSEC\n0\nEOF\n";
  }
  const fs::path long_converted = folder / "images" / "bench" / "lwpolyline10mcn.dxf";
  Measure long_best;
  double long_peak = 0;
  for (int round = 0; round < 3; ++round) {
    Measure m = run(
        {QUORVANE_TOOL_EXE, "convert", "cn", long_one.string(), long_converted.string()}, "", "");
    if (m.status != 0) {
      std::fprintf(stderr, "the tool failed to convert %s\n", long_one.c_str());
      return 1;
    }
    if (round == 0 || m.seconds < long_best.seconds) long_best = m;
    long_peak = std::max(long_peak, m.peak_mib);
  }
  fs::remove(long_converted);
  std::printf("\none LWPOLYLINE of 1e7 vertices (%.1f MB): convert %.3f s, peak %.1f MiB\n",
              static_cast<double>(fs::file_size(long_one)) / 1e6, long_best.seconds, long_peak);

  // A fault after a billion blank lines: refused in constant memory.
  const fs::path blank = folder / "images" / "bench" / "blankcn.dxf";
  if (!fs::exists(blank)) {
    std::ofstream out(blank, std::ios::binary);
    out << "POLYLINE\n";
    const std::string lines(1 << 20, '\n');
    for (int i = 0; i < 1000000000 / (1 << 20); ++i) out << lines;
    out << std::string(1000000000 % (1 << 20), '\n') << "5\nL\n";
    std::ofstream(folder / "images" / "bench" / "blankha.dxf", std::ios::binary) << "SEQEND\n";
  }
  Measure refused = run({QUORVANE_TOOL_EXE}, "bench\nblank\nblank\nblank\n", folder.string());
  std::printf("refused after 1e9 blank lines: status %d, %.3f s, peak %.1f MiB\n", refused.status,
              refused.seconds, refused.peak_mib);
  return refused.status == 1 ? 0 : 1;
}
