// The run's output files, written in the background: each image is copied
// when it is complete, compressed to PNG by helper threads while the worker
// goes on shading, and put on disk by the worker itself, in the order the
// images were handed over. An image that is final before its turn among the
// files may be handed over early with Prepare, so that its compression
// overlaps the shading instead of lengthening the sector's end. The files,
// their bytes, their order, the console lines of failures and the points
// at which a stop is honoured are those of writing each file on the spot:
// only the moment a file appears moves later.
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

  // Starts compressing an image whose pixels are final while its turn among
  // the files is still to come. The Add of the same path and n takes the
  // result instead of compressing again, if the surface then holds the
  // same pixels (else it compresses them anew). Writes and reports
  // nothing; a null surface or one of another layout is left to Add.
  void Prepare(const std::string& path, SDL_Surface* surface, int n);

  // Puts the compressed images on disk in order, stopping at the first one
  // not yet compressed, or waiting for each when `wait` (then all are on
  // disk on return, and the calling thread compresses too while it waits).
  // Looks for a stop before every file; returns false when it saw one.
  bool Commit(bool wait);

 private:
  struct Job {
    std::string path;
    int n = 0;
    int w = 0, h = 0, pitch = 0;
    std::vector<uint8_t> pixels;  // the image's rows as the surface held them
    std::vector<uint8_t> png;     // the encoded file
    bool taken = false, done = false, ok = false;
    bool early = false;  // prepared: its pixels are kept to be compared at Add
  };

  void Helper();
  Job* Untaken();  // the next job to encode (with mu_ held), or null
  Job* TakeJob();  // the next job to encode, or null once quitting
  void Encode(Job* job);
  void Queue(std::unique_ptr<Job> job);
  std::unique_ptr<Job> TakePrepared(const std::string& path, int n, const SDL_Surface* surface);
  static std::unique_ptr<Job> CopyOf(const std::string& path, SDL_Surface* surface, int n);
  static bool WriteOut(const Job& job);

  std::mutex mu_;
  std::condition_variable work_, finished_;
  std::deque<std::unique_ptr<Job>> jobs_;  // in the order of the files
  std::vector<std::unique_ptr<Job>> early_;  // prepared, their turn not yet come
  bool quit_ = false;
  std::vector<std::thread> helpers_;
};
