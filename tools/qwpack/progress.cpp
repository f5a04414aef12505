#include "tools/qwpack/progress.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define QW_ISATTY(fd) _isatty(fd)
#define QW_FILENO(file) _fileno(file)
#else
#include <unistd.h>
#define QW_ISATTY(fd) isatty(fd)
#define QW_FILENO(file) fileno(file)
#endif

namespace {

constexpr int kBarWidth = 30;
constexpr double kMegabyte = 1024.0 * 1024.0;

}  // namespace

ProgressBar::ProgressBar(const char* label, std::uint64_t total)
    : label_(label),
      total_(total),
      shown_(total >= kProgressThreshold && QW_ISATTY(QW_FILENO(stderr)) != 0) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Update(std::uint64_t done) {
  if (!shown_ || finished_) return;
  if (done > total_) done = total_;
  const int tenths = static_cast<int>(done * 1000 / total_);
  if (tenths == lastTenths_) return;
  lastTenths_ = tenths;
  char bar[kBarWidth + 1];
  const int filled = tenths * kBarWidth / 1000;
  for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '-';
  bar[kBarWidth] = '\0';
  std::fprintf(stderr, "\r%s [%s] %.1f / %.1f MB", label_, bar, done / kMegabyte,
               total_ / kMegabyte);
  std::fflush(stderr);
}

void ProgressBar::Finish() {
  if (!shown_ || finished_) return;
  Update(total_);
  std::fputc('\n', stderr);
  finished_ = true;
}
