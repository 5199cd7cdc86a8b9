// What the fuzz targets share: reading structured choices out of the fuzzer's
// bytes, a log that stays quiet, a clock that never sleeps, and a check that
// stops the run when an invariant breaks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

#include "core/clock.h"
#include "core/log.h"

namespace velt::fuzz {

// The fuzzer's bytes, taken from the front. Past the end every read gives 0.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  // One of count choices.
  size_t pick(size_t count) { return count ? byte() % count : 0; }
  std::span<const uint8_t> bytes(size_t n) {
    n = n < size_ - at_ ? n : size_ - at_;
    std::span<const uint8_t> out(data_ + at_, n);
    at_ += n;
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

class QuietLog : public LogSink {
 public:
  QuietLog() { setLogSink(this); }
  ~QuietLog() override { setLogSink(nullptr); }
  void line(std::string_view) override {}
  void debug(std::string_view) override {}
};

// Time passes only when someone sleeps, and sleeping takes no time.
class InstantClock : public Clock {
 public:
  TimePoint now() const override { return now_; }
  void sleepFor(Duration d) override { now_ += d; }

 private:
  TimePoint now_{};
};

// A broken invariant: say which, and abort so the fuzzer keeps the input.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

inline void check(bool ok, const char* what) {
  if (!ok) fail(what);
}

}  // namespace velt::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
