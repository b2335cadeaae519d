// Writes a pair of drawings laid out as the merge expects, of about the size
// asked for each: <folder>/images/bench/<name>cn.dxf (contour polylines of
// 3D vertices) and <name>ha.dxf (2D polylines, three in four on HA_6292).
//
//   generate_pair <folder> <megabytes per input> <name>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

class Output {
 public:
  explicit Output(const std::string& path) : file_(std::fopen(path.c_str(), "wb")), path_(path) {
    if (file_ == nullptr) {
      std::perror(path.c_str());
      std::exit(1);
    }
  }
  ~Output() {
    flush();
    if (std::fclose(file_) != 0) {
      std::perror(path_.c_str());
      std::exit(1);
    }
  }
  void line(const char* text) { put(text, static_cast<int>(std::strlen(text))); }
  void put(const char* text, int size) {
    if (used_ + static_cast<std::size_t>(size) + 2 > sizeof buffer_) flush();
    for (int i = 0; i < size; ++i) buffer_[used_++] = text[i];
    buffer_[used_++] = '\r';
    buffer_[used_++] = '\n';
    written_ += static_cast<std::uint64_t>(size) + 2;
  }
  void real(double v) {
    char text[32];
    put(text, std::snprintf(text, sizeof text, "%.3f", v));
  }
  std::uint64_t written() const { return written_; }

 private:
  void flush() {
    if (used_ > 0 && std::fwrite(buffer_, 1, used_, file_) != used_) {
      std::perror(path_.c_str());
      std::exit(1);
    }
    used_ = 0;
  }
  std::FILE* file_;
  std::string path_;
  char buffer_[1 << 20];
  std::size_t used_ = 0;
  std::uint64_t written_ = 0;
};

std::uint64_t state = 0x9E3779B97F4A7C15u;
double uniform(double low, double high) {  // xorshift: fast and reproducible
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return low + (high - low) * static_cast<double>(state >> 11) / 9007199254740992.0;
}

void header(Output& out, double top) {
  for (const char* l : {"  0", "SECTION", "  2", "HEADER", "  9", "$EXTMIN", " 10"}) out.line(l);
  out.real(0);
  out.line(" 20");
  out.real(0);
  out.line(" 30");
  out.real(0);
  for (const char* l : {"  9", "$EXTMAX", " 10"}) out.line(l);
  out.real(5000);
  out.line(" 20");
  out.real(5000);
  out.line(" 30");
  out.real(top);
  for (const char* l : {"  0", "ENDSEC", "  0", "SECTION", "  2", "ENTITIES", "  0"}) out.line(l);
}

void contour(const std::string& path, std::uint64_t bytes) {
  Output out(path);
  header(out, 400);
  while (out.written() < bytes) {
    double level = 100 + 5 * static_cast<int>(uniform(0, 60));
    char elevation[16];
    int n = std::snprintf(elevation, sizeof elevation, "%d", static_cast<int>(level));
    for (const char* l : {"POLYLINE", "  8", "CN1", " 66", "1", " 10", "0", " 20", "0", " 30"})
      out.line(l);
    out.put(elevation, n);
    out.line("  0");
    double x = uniform(0, 5000), y = uniform(0, 5000);
    for (int v = static_cast<int>(uniform(50, 500)); v > 0; --v) {
      x += uniform(-5, 5);
      y += uniform(-5, 5);
      for (const char* l : {"VERTEX", "  8", "CN1", " 70", "    32", " 10"}) out.line(l);
      out.real(x);
      out.line(" 20");
      out.real(y);
      out.line(" 30");
      out.real(level);
      out.line("  0");
    }
    for (const char* l : {"SEQEND", "  8", "CN1", "  0"}) out.line(l);
  }
  for (const char* l : {"ENDSEC", "  0", "EOF"}) out.line(l);
}

void second(const std::string& path, std::uint64_t bytes) {
  Output out(path);
  header(out, 0);
  while (out.written() < bytes) {
    const char* layer = uniform(0, 4) < 3 ? "HA_6292" : "WALLS";
    for (const char* l : {"POLYLINE", "  8"}) out.line(l);
    out.line(layer);
    for (const char* l : {" 66", "1", " 70", "     1", " 40", "     0", "  0"}) out.line(l);
    double x = uniform(0, 5000), y = uniform(0, 5000);
    for (int v = static_cast<int>(uniform(20, 300)); v > 0; --v) {
      x += uniform(-5, 5);
      y += uniform(-5, 5);
      for (const char* l : {"VERTEX", "  8"}) out.line(l);
      out.line(layer);
      for (const char* l : {" 70", "    0", " 10"}) out.line(l);
      out.real(x);
      out.line(" 20");
      out.real(y);
      out.line("  0");
    }
    for (const char* l : {"SEQEND", "  8"}) out.line(l);
    out.line(layer);
    out.line("  0");
  }
  for (const char* l : {"ENDSEC", "  0", "EOF"}) out.line(l);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: generate_pair <folder> <megabytes per input> <name>\n");
    return 2;
  }
  std::uint64_t bytes = std::strtoull(argv[2], nullptr, 10) << 20;
  std::filesystem::path folder = std::filesystem::path(argv[1]) / "images" / "bench";
  std::filesystem::create_directories(folder);
  contour((folder / (std::string(argv[3]) + "cn.dxf")).string(), bytes);
  second((folder / (std::string(argv[3]) + "ha.dxf")).string(), bytes);
  return 0;
}
