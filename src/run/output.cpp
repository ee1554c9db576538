#include "run/output.h"

#include <png.h>
#include <unistd.h>

#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "terrain/pngfuncs.h"
#include "terrain/state.h"

namespace {

// The layout png_save_surface writes as RGB straight from memory.
bool PlainRgb(const SDL_Surface* s) {
  const SDL_PixelFormat* f = s->format;
  return !f->palette && f->BytesPerPixel == 3 && f->Rmask == 0x00FF0000 && f->Gmask == 0x0000FF00 &&
         f->Bmask == 0x000000FF && f->Amask == 0 && s->w > 0 && s->h > 0;
}

std::string TempPathFor(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return dir + "." + name + ".out-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

bool StopRequested() { return st.stoprequest.load(); }

}  // namespace

RunOutput::RunOutput(int threads) {
  for (int i = 0; i < (threads > 0 ? threads : 1); ++i) helpers_.emplace_back([this] { Helper(); });
}

RunOutput::~RunOutput() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    quit_ = true;
  }
  work_.notify_all();
  for (std::thread& t : helpers_) t.join();
}

void RunOutput::Helper() {
  for (;;) {
    Job* job = nullptr;
    {
      std::unique_lock<std::mutex> lock(mu_);
      work_.wait(lock, [&] {
        if (quit_) return true;
        for (const auto& j : jobs_)
          if (!j->taken) return true;
        return false;
      });
      if (quit_) return;
      for (const auto& j : jobs_)
        if (!j->taken) {
          job = j.get();
          break;
        }
      job->taken = true;
    }
    // The job stays in the queue, untouched by anyone else, until done.
    const bool ok = EncodePngRgb(job->pixels.data(), job->w, job->h, job->pitch, job->png);
    if (ok && job->n != kElevation) std::memcpy(job->png.data(), "TSVLP", 5);
    {
      std::lock_guard<std::mutex> lock(mu_);
      job->ok = ok;
      job->done = true;
      std::vector<uint8_t>().swap(job->pixels);
    }
    finished_.notify_all();
  }
}

void RunOutput::Report(const Job& job, bool ok) {
  if (ok) return;
  if (job.n == kElevation) {
    toconsole("ERROR saving elev png");
  } else {
    char cmen[64];
    std::snprintf(cmen, sizeof cmen, "ERROR saving package %d", job.n);
    toconsole(cmen);
  }
  st.finderror = 1;
}

// The encoded file under a hidden name first, then under its own: a failed
// write never leaves a truncated file under the final name.
bool RunOutput::WriteOut(Job& job) {
  if (!job.ok) return false;
  const std::string tmp = TempPathFor(job.path);
  std::FILE* fp = std::fopen(tmp.c_str(), "wb");
  if (!fp) {
    std::perror("fopen error");
    return false;
  }
  const bool written = std::fwrite(job.png.data(), 1, job.png.size(), fp) == job.png.size();
  const bool closed = std::fclose(fp) == 0;
  if (!written || !closed) {
    std::perror("write error");
    std::remove(tmp.c_str());
    return false;
  }
  if (std::rename(tmp.c_str(), job.path.c_str()) != 0) {
    std::perror("rename error");
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

bool RunOutput::Commit(bool wait) {
  for (;;) {
    std::unique_ptr<Job> job;
    {
      std::unique_lock<std::mutex> lock(mu_);
      if (jobs_.empty()) return !StopRequested();
      if (wait) finished_.wait(lock, [&] { return jobs_.front()->done; });
      if (!jobs_.front()->done) return !StopRequested();
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    // After a stop nothing more reaches the disk; the rest is dropped
    // with this object, once the helpers are done with what they hold.
    if (StopRequested()) return false;
    Report(*job, WriteOut(*job));
  }
}

bool RunOutput::Add(const std::string& path, SDL_Surface* surface, int n) {
  if (StopRequested()) return false;
  if (!surface || !PlainRgb(surface)) {
    // Written on the spot by the ordinary writers, once all before it is.
    if (!Commit(true)) return false;
    if (n == kElevation) {
      if (png_save_surface(path, surface) < 0) {
        toconsole("ERROR saving elev png");
        st.finderror = 1;
      }
    } else {
      save_package(path, surface, n);
    }
    return true;
  }
  auto job = std::make_unique<Job>();
  job->path = path;
  job->n = n;
  job->w = surface->w;
  job->h = surface->h;
  job->pitch = surface->pitch;
  const size_t bytes = static_cast<size_t>(surface->pitch) * static_cast<size_t>(surface->h);
  job->pixels.assign(static_cast<const uint8_t*>(surface->pixels), static_cast<const uint8_t*>(surface->pixels) + bytes);
  {
    std::lock_guard<std::mutex> lock(mu_);
    jobs_.push_back(std::move(job));
  }
  work_.notify_one();
  return true;
}
