#include "run/output.h"

#include <algorithm>

#include "terrain/file.h"
#include "terrain/pngfuncs.h"
#include "terrain/state.h"

namespace {

// The layout png_save_surface writes as RGB straight from memory.
bool PlainRgb(const SDL_Surface* s) {
  const SDL_PixelFormat* f = s->format;
  return !f->palette && f->BytesPerPixel == 3 && f->Rmask == 0x00FF0000 && f->Gmask == 0x0000FF00 &&
         f->Bmask == 0x000000FF && f->Amask == 0 && s->w > 0 && s->h > 0;
}

bool StopRequested() { return st.stoprequest.load(); }

// The console line and error flag of output n that could not be written.
void ReportFailure(int n) {
  if (n != RunOutput::kElevation) {
    ReportPackageFailure(n);
    return;
  }
  toconsole("ERROR saving elev png");
  st.finderror = 1;
}

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

RunOutput::Job* RunOutput::Untaken() {
  // The files' own order first: they hold up the writing.
  for (const auto& j : jobs_)
    if (!j->taken) return j.get();
  for (const auto& j : early_)
    if (!j->taken) return j.get();
  return nullptr;
}

RunOutput::Job* RunOutput::TakeJob() {
  std::unique_lock<std::mutex> lock(mu_);
  work_.wait(lock, [&] { return quit_ || Untaken(); });
  if (quit_) return nullptr;
  Job* job = Untaken();
  job->taken = true;
  return job;
}

void RunOutput::Encode(Job* job) {
  // The job stays where it is, untouched by anyone else, until done.
  const bool ok = EncodePngRgb(job->pixels.data(), job->w, job->h, job->pitch, job->png);
  if (ok && job->n != kElevation) StampPackage(job->png);
  {
    std::lock_guard<std::mutex> lock(mu_);
    job->ok = ok;
    job->done = true;
    if (!job->early) std::vector<uint8_t>().swap(job->pixels);
  }
  finished_.notify_all();
}

void RunOutput::Helper() {
  while (Job* job = TakeJob()) Encode(job);
}

bool RunOutput::WriteOut(const Job& job) {
  return job.ok && WriteFileAtomic(job.path, job.png.data(), job.png.size());
}

bool RunOutput::Commit(bool wait) {
  for (;;) {
    std::unique_ptr<Job> job;
    {
      std::unique_lock<std::mutex> lock(mu_);
      if (jobs_.empty()) return !StopRequested();
      if (!jobs_.front()->done) {
        if (!wait) return !StopRequested();
        // Rather than idle, compress whatever no helper has taken yet.
        if (Job* mine = Untaken()) {
          mine->taken = true;
          lock.unlock();
          Encode(mine);
          continue;
        }
        finished_.wait(lock, [&] { return jobs_.front()->done; });
      }
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    // After a stop nothing more reaches the disk; the rest is dropped
    // with this object, once the helpers are done with what they hold.
    if (StopRequested()) return false;
    if (!WriteOut(*job)) ReportFailure(job->n);
  }
}

void RunOutput::Queue(std::unique_ptr<Job> job) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    jobs_.push_back(std::move(job));
  }
  work_.notify_one();
}

std::unique_ptr<RunOutput::Job> RunOutput::CopyOf(const std::string& path, SDL_Surface* surface, int n) {
  auto job = std::make_unique<Job>();
  job->path = path;
  job->n = n;
  job->w = surface->w;
  job->h = surface->h;
  job->pitch = surface->pitch;
  const auto* pixels = static_cast<const uint8_t*>(surface->pixels);
  job->pixels.assign(pixels, pixels + static_cast<size_t>(surface->pitch) * static_cast<size_t>(surface->h));
  return job;
}

void RunOutput::Prepare(const std::string& path, SDL_Surface* surface, int n) {
  if (StopRequested() || !surface || !PlainRgb(surface)) return;
  std::unique_ptr<Job> job = CopyOf(path, surface, n);
  job->early = true;
  {
    std::lock_guard<std::mutex> lock(mu_);
    early_.push_back(std::move(job));
  }
  work_.notify_one();
}

std::unique_ptr<RunOutput::Job> RunOutput::TakePrepared(const std::string& path, int n,
                                                        const SDL_Surface* surface) {
  std::unique_lock<std::mutex> lock(mu_);
  auto it = std::find_if(early_.begin(), early_.end(), [&](const auto& j) { return j->path == path && j->n == n; });
  if (it == early_.end()) return nullptr;
  std::unique_ptr<Job> job = std::move(*it);
  early_.erase(it);
  const auto* pixels = static_cast<const uint8_t*>(surface->pixels);
  const bool same = job->w == surface->w && job->h == surface->h && job->pitch == surface->pitch &&
                    std::equal(job->pixels.begin(), job->pixels.end(), pixels);
  if (!same) {
    // Changed after all: the copy goes, once no helper is compressing it.
    finished_.wait(lock, [&] { return job->done || !job->taken; });
    return nullptr;
  }
  job->early = false;
  if (job->done) std::vector<uint8_t>().swap(job->pixels);
  return job;
}

bool RunOutput::Add(const std::string& path, SDL_Surface* surface, int n) {
  if (StopRequested()) return false;
  if (!surface) {
    // Nothing to write: a failure, reported in its place among the files.
    auto job = std::make_unique<Job>();
    job->path = path;
    job->n = n;
    job->taken = job->done = true;
    Queue(std::move(job));
    return true;
  }
  if (!PlainRgb(surface)) {
    // Written on the spot by the ordinary writers, once all before it is.
    if (!Commit(true)) return false;
    if (n != kElevation)
      save_package(path, surface, n);  // reports its own failure
    else if (png_save_surface(path, surface) != 0)
      ReportFailure(n);
    return true;
  }
  std::unique_ptr<Job> job = TakePrepared(path, n, surface);
  Queue(job ? std::move(job) : CopyOf(path, surface, n));
  return true;
}
