#pragma once
// A one-line progress bar on stderr, "label [#####-----] done / total MB", drawn only when
// stderr is a terminal and the work is large enough to take a noticeable time; otherwise
// nothing at all is printed.
#include <cstdint>

constexpr std::uint64_t kProgressThreshold = 4u << 20;  // bytes; smaller work ends too soon

class ProgressBar {
 public:
  ProgressBar(const char* label, std::uint64_t total);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Redraws when the shown figures change; done never goes past total.
  void Update(std::uint64_t done);
  // Draws the full bar and ends the line (also done by the destructor).
  void Finish();

 private:
  const char* label_;
  std::uint64_t total_;
  bool shown_;
  bool finished_ = false;
  int lastTenths_ = -1;  // tenths of a percent last drawn
};
