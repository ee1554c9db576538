// The run's output files, written in the background: each image is copied
// when it is complete, compressed to PNG by helper threads while the worker
// goes on shading, and put on disk by the worker itself, in the order the
// images were handed over. The files, their bytes, their order, the console
// lines of failures and the points at which a stop is honoured are those
// of writing each file on the spot: only the moment a file appears moves
// later.
#pragma once

#include <SDL.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class RunOutput {
 public:
  // Compresses on `threads` helper threads (at least 1).
  explicit RunOutput(int threads);
  // Drops whatever was not put on disk and waits for the helpers: nothing
  // reaches the disk after a stop, or after a fatal path left the run.
  ~RunOutput();
  RunOutput(const RunOutput&) = delete;
  RunOutput& operator=(const RunOutput&) = delete;

  // Hands over package n (0..15: stamped, "ERROR saving package n" on
  // failure) or the elevation image (n = kElevation: plain PNG, "ERROR
  // saving elev png") of `surface` to be written to `path`. The surface is
  // copied at once and may change afterwards. A surface of another layout
  // than plain 24-bit blue-green-red is written on the spot instead, after
  // everything before it. A null surface is a write that failed: nothing
  // is written and its failure line comes in its place. Returns false when
  // a stop was seen (nothing more is written then).
  bool Add(const std::string& path, SDL_Surface* surface, int n);
  static constexpr int kElevation = -1;

  // Puts the compressed images on disk in order, stopping at the first one
  // not yet compressed, or waiting for each when `wait` (then all are on
  // disk on return). Looks for a stop before every file; returns false
  // when it saw one.
  bool Commit(bool wait);

 private:
  struct Job {
    std::string path;
    int n = 0;
    int w = 0, h = 0, pitch = 0;
    std::vector<uint8_t> pixels;  // the image's rows as the surface held them
    std::vector<uint8_t> png;     // the encoded file
    bool taken = false, done = false, ok = false;
  };

  void Helper();
  Job* TakeJob();  // the next job to encode, or null once quitting
  void Queue(std::unique_ptr<Job> job);
  static bool WriteOut(const Job& job);

  std::mutex mu_;
  std::condition_variable work_, finished_;
  std::deque<std::unique_ptr<Job>> jobs_;  // in the order of the files
  bool quit_ = false;
  std::vector<std::thread> helpers_;
};
