#include "engine/row_pool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Rows handed out per grab: enough to keep the counter cold, few enough
// that the last rows of a step spread over the threads.
constexpr int32_t kRowsPerGrab = 4;

class RowPool {
 public:
  ~RowPool() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      quit_ = true;
    }
    start_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

  void Run(int threads, int32_t rows, const std::function<void(int32_t, int)>& fn) {
    const int helpers = std::max(0, std::min(threads - 1, static_cast<int>(rows / kRowsPerGrab)));
    Grow(helpers);
    if (helpers == 0) {
      for (int32_t y = 0; y < rows; ++y) fn(y, 0);
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      fn_ = &fn;
      rows_ = rows;
      next_.store(0, std::memory_order_relaxed);
      wanted_ = helpers;
      busy_ = helpers;
      ++generation_;
    }
    start_.notify_all();
    Work(0);
    std::unique_lock<std::mutex> lock(mu_);
    done_.wait(lock, [&] { return busy_ == 0; });
    fn_ = nullptr;
  }

 private:
  void Grow(int helpers) {
    while (static_cast<int>(threads_.size()) < helpers) {
      const int id = static_cast<int>(threads_.size()) + 1;
      threads_.emplace_back([this, id] { Loop(id); });
    }
  }

  void Loop(int id) {
    uint64_t seen = 0;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mu_);
        start_.wait(lock, [&] { return quit_ || (generation_ != seen && id <= wanted_); });
        if (quit_) return;
        seen = generation_;
      }
      Work(id);
      std::lock_guard<std::mutex> lock(mu_);
      if (--busy_ == 0) done_.notify_one();
    }
  }

  void Work(int id) {
    const std::function<void(int32_t, int)>& fn = *fn_;
    for (;;) {
      const int32_t y0 = next_.fetch_add(kRowsPerGrab, std::memory_order_relaxed);
      if (y0 >= rows_) return;
      const int32_t y1 = std::min(rows_, y0 + kRowsPerGrab);
      for (int32_t y = y0; y < y1; ++y) fn(y, id);
    }
  }

  std::mutex mu_;
  std::condition_variable start_, done_;
  std::vector<std::thread> threads_;
  bool quit_ = false;
  uint64_t generation_ = 0;
  int wanted_ = 0;  // helpers taking part in the current generation: ids 1..wanted_
  int busy_ = 0;    // helpers not yet finished with it
  const std::function<void(int32_t, int)>* fn_ = nullptr;
  int32_t rows_ = 0;
  alignas(64) std::atomic<int32_t> next_{0};
};

RowPool& Pool() {
  static RowPool pool;
  return pool;
}

}  // namespace

int ShadeThreadCount(int asked) {
  if (asked > 0) return asked;
  const unsigned hw = std::thread::hardware_concurrency();
  return hw > 0 ? static_cast<int>(hw) : 1;
}

void ForEachRow(int threads, int32_t rows, const std::function<void(int32_t y, int worker)>& fn) {
  Pool().Run(std::max(1, threads), rows, fn);
}
