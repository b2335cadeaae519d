#include "NRUTIL.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <set>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVANE_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QUORVANE_ASAN 1
#endif
#if defined(__SANITIZE_THREAD__)
#define QUORVANE_TSAN 1
#endif
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUORVANE_TSAN 1
#endif
#endif
#ifdef QUORVANE_ASAN
#include <sanitizer/lsan_interface.h>
#else
#include <malloc.h>
#endif

extern "C" int nrutil_from_c(void);

#ifdef QUORVANE_ASAN
// Running out of memory is what these tests do: a null result, not an abort.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
#endif

namespace {

template <typename T, T** (*Alloc)(int, int), void (*Free)(T**, int)>
struct Matrix {
  using Element = T;
  static T** alloc(int cols, int rows) { return Alloc(cols, rows); }
  static void release(T** m, int rows) { Free(m, rows); }
};

using Matrices = ::testing::Types<
    Matrix<float, fmatrice, frfmatrice>, Matrix<unsigned char, ucmatrice, frucmatrice>,
    Matrix<unsigned short, usmatrice, frusmatrice>, Matrix<short, smatrice, frsmatrice>,
    Matrix<int, imatrice, frimatrice>, Matrix<double, dmatrice, frdmatrice>,
    Matrix<long double, ldmatrice, frldmatrice>>;

template <typename M>
class MatrixTest : public ::testing::Test {};
TYPED_TEST_SUITE(MatrixTest, Matrices);

// Element (r, c) gets a value of its own, so that any overlap shows.
template <typename T>
T mark(int r, int c) {
  return static_cast<T>((r * 7 + c * 3 + 1) % 120);
}

TYPED_TEST(MatrixTest, RowsAreZeroFilledWritableAndIndependent) {
  using T = typename TypeParam::Element;
  for (auto [cols, rows] : {std::pair{3, 2}, std::pair{1, 1}, std::pair{17, 1}, std::pair{5, 40}}) {
    T** m = TypeParam::alloc(cols, rows);
    ASSERT_NE(m, nullptr);
    std::set<T*> distinct;
    for (int r = 0; r < rows; ++r) {
      ASSERT_NE(m[r], nullptr);
      distinct.insert(m[r]);
      for (int c = 0; c < cols; ++c) EXPECT_EQ(m[r][c], T(0)) << r << "," << c;
    }
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c) m[r][c] = mark<T>(r, c);
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c) EXPECT_EQ(m[r][c], mark<T>(r, c)) << r << "," << c;
    TypeParam::release(m, rows);
  }
}

TYPED_TEST(MatrixTest, NoCountMeansNoMatrixAndNullIsReleasedQuietly) {
  for (auto [cols, rows] : {std::pair{0, 3}, std::pair{3, 0}, std::pair{-1, 3}, std::pair{3, -5}}) {
    EXPECT_EQ(TypeParam::alloc(cols, rows), nullptr) << cols << "x" << rows;
  }
  TypeParam::release(nullptr, 0);
  TypeParam::release(nullptr, 7);
}

template <typename T, T* (*Alloc)(int), void (*Free)(T*)>
struct Vector {
  using Element = T;
  static T* alloc(int cols) { return Alloc(cols); }
  static void release(T* v) { Free(v); }
};

using Vectors =
    ::testing::Types<Vector<unsigned char, ucvecteur, frucvecteur>,
                     Vector<unsigned short, usvecteur, frusvecteur>,
                     Vector<short, svecteur, frsvecteur>, Vector<int, ivecteur, frivecteur>,
                     Vector<double, dvecteur, frdvecteur>, Vector<float, fvecteur, frfvecteur>>;

template <typename V>
class VectorTest : public ::testing::Test {};
TYPED_TEST_SUITE(VectorTest, Vectors);

TYPED_TEST(VectorTest, ZeroFilledAndWritable) {
  using T = typename TypeParam::Element;
  for (int cols : {1, 2, 1000}) {
    T* v = TypeParam::alloc(cols);
    ASSERT_NE(v, nullptr);
    for (int c = 0; c < cols; ++c) EXPECT_EQ(v[c], T(0));
    for (int c = 0; c < cols; ++c) v[c] = mark<T>(0, c);
    for (int c = 0; c < cols; ++c) EXPECT_EQ(v[c], mark<T>(0, c));
    TypeParam::release(v);
  }
  EXPECT_EQ(TypeParam::alloc(0), nullptr);
  EXPECT_EQ(TypeParam::alloc(-3), nullptr);
  TypeParam::release(nullptr);
}

TEST(Nrutil, TheHeaderServesC) { EXPECT_EQ(nrutil_from_c(), 1); }

// Heap bytes in use, or false where only the leak checker can tell.
bool heap_in_use(std::size_t& bytes) {
#ifdef QUORVANE_ASAN
  (void)bytes;
  return false;
#else
  struct mallinfo2 info = mallinfo2();
  bytes = info.uordblks + info.hblkhd;
  return true;
#endif
}

// In a child under a small address-space limit: rows of 8 MiB run out part
// way; the result must be null, and the heap as it was before.
int run_out_of_memory() {
  long pages = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  rlim_t limit =
      static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (256u << 20);
  rlimit cap{limit, limit};
  if (setrlimit(RLIMIT_AS, &cap) != 0) return 2;
  std::size_t before = 0, after = 0;
  bool measured = heap_in_use(before);
  double** m = dmatrice(1 << 20, 1000);
  if (m != nullptr) return 3;
  long double** l = ldmatrice(1 << 19, 1000);
  if (l != nullptr) return 4;
#ifdef QUORVANE_ASAN
  if (__lsan_do_recoverable_leak_check() != 0) return 5;
#endif
  if (measured && heap_in_use(after) && after != before) return 6;
  return 0;
}

TEST(Nrutil, AMatrixThatRunsOutOfMemoryIsReleasedInFull) {
#ifdef QUORVANE_TSAN
  GTEST_SKIP() << "ThreadSanitizer's allocator does not run under an address-space limit";
#endif
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(run_out_of_memory());
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << "the child died: " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
