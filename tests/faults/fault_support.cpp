#include "faults/fault_support.h"

#include <fcntl.h>
#include <png.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "run/run.h"
#include "support/run_support.h"

namespace faults {

fs::path BatchExe() {
  const char* bin = std::getenv("VDB_BINARY_DIR");
  // Run by hand from build/tests: the build folder is one level up.
  const fs::path build = bin ? fs::path(bin) : fs::read_symlink("/proc/self/exe").parent_path().parent_path();
  return build / "src" / "batch" / "veltano-batch";
}

// A 3 x 3 grid cut from one low hill: ridges and a raised block that shade
// plenty at low sun, yet keep the ray range short so that whole runs stay
// quick under the sanitizers.
void MakeGrid(const fs::path& work, bool tif, int size) {
  for (int c = 1; c <= 3; ++c)
    for (int r = 1; r <= 3; ++r) {
      const HeightFn hill = runtest::GridHill(c, r, size);
      auto f = [&](int x, int y) { return 1000 + (static_cast<int>(hill(x, y)) - 1000) / 4; };
      if (tif)
        WriteTiffFloat(work / runtest::SectorName(c, r, ".tif"), size, size,
                       [&](int x, int y) { return static_cast<float>(f(x, y)) + 0.25f; });
      else
        WritePngRgb(work / runtest::SectorName(c, r, ".png"), size, size,
                    [&](int x, int y) { return static_cast<uint32_t>(f(x, y)); });
    }
}

BatchChild::BatchChild(const std::vector<std::string>& args, long fsize_limit) {
  // Everything the child needs is prepared before the fork: between fork
  // and exec only async-signal-safe calls are allowed.
  const std::string exe = BatchExe().string();
  std::vector<std::string> all = {exe};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  const rlimit limit{static_cast<rlim_t>(fsize_limit), static_cast<rlim_t>(fsize_limit)};

  pid_ = fork();
  if (pid_ == 0) {
    dup2(null, 0);
    dup2(null, 1);
    dup2(fds[1], 2);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGINT, SIG_DFL);
    if (fsize_limit > 0) {
      signal(SIGXFSZ, SIG_IGN);
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  close(null);
  if (pid_ < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  reader_ = std::thread([this, fd = fds[0]] { Read(fd); });
}

BatchChild::~BatchChild() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (reader_.joinable()) reader_.join();
}

void BatchChild::Read(int fd) {
  char buf[4096];
  for (;;) {
    const ssize_t got = read(fd, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    std::lock_guard<std::mutex> lock(mu_);
    err_.append(buf, static_cast<size_t>(got));
    grew_.notify_all();
  }
  close(fd);
  std::lock_guard<std::mutex> lock(mu_);
  closed_ = true;
  grew_.notify_all();
}

bool BatchChild::WaitForText(const std::string& text, double seconds) {
  std::unique_lock<std::mutex> lock(mu_);
  return grew_.wait_for(lock, std::chrono::duration<double>(seconds),
                        [&] { return err_.find(text) != std::string::npos || closed_; }) &&
         err_.find(text) != std::string::npos;
}

void BatchChild::Interrupt(int sig) {
  if (pid_ > 0 && !reaped_) kill(pid_, sig);
}

int BatchChild::Wait(double seconds) {
  if (pid_ <= 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int status = 0;
  for (;;) {
    const pid_t got = waitpid(pid_, &status, WNOHANG);
    if (got == pid_) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      reaped_ = true;
      if (reader_.joinable()) reader_.join();
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  reaped_ = true;
  // The pipe closes with the child: all of standard error is in.
  if (reader_.joinable()) reader_.join();
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string BatchChild::err() const {
  std::lock_guard<std::mutex> lock(mu_);
  return err_;
}

Outcome RunBatch(const std::vector<std::string>& args, long fsize_limit) {
  BatchChild child(args, fsize_limit);
  Outcome o;
  o.code = child.Wait();
  o.err = child.err();
  return o;
}

std::set<std::string> OutputNames(const std::vector<std::string>& ids) {
  std::set<std::string> names;
  for (const std::string& id : ids) {
    for (int p = 0; p < 16; ++p) names.insert(PackageName(id, p));
    names.insert(ElevationName(id));
  }
  return names;
}

std::map<std::string, std::vector<uint8_t>> FolderBytes(const fs::path& dir) {
  std::map<std::string, std::vector<uint8_t>> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec))
    if (e.is_regular_file()) out[e.path().filename().string()] = ReadFileBytes(e.path());
  return out;
}

namespace {

constexpr uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint8_t kMark[8] = {'T', 'S', 'V', 'L', 'P', 0x0A, 0x1A, 0x0A};
// An empty IEND chunk: length 0, type, CRC.
constexpr uint8_t kEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Decodes the whole image; the reason when it cannot.
std::string DecodeProblem(std::vector<uint8_t> bytes) {
  std::copy(kSignature, kSignature + 8, bytes.begin());
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return image.message;
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return image.message;
  return "";
}

}  // namespace

std::vector<std::string> SessionProblems(const fs::path& session) {
  std::vector<std::string> problems;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(session, ec)) {
    const std::string name = e.path().filename().string();
    if (name[0] == '.') {
      problems.push_back(name + ": temporary file left behind");
      continue;
    }
    if (!e.is_regular_file()) {
      problems.push_back(name + ": not a regular file");
      continue;
    }
    const std::vector<uint8_t> bytes = ReadFileBytes(e.path());
    const bool package = EndsWith(name, ".vtp");
    const uint8_t* head = package ? kMark : kSignature;
    if (bytes.size() < 8 + 25 + 12 || !std::equal(head, head + 8, bytes.begin())) {
      problems.push_back(name + ": does not start as a " + (package ? "package" : "PNG"));
      continue;
    }
    if (!std::equal(kEnd, kEnd + 12, bytes.end() - 12)) {
      problems.push_back(name + ": no end chunk (truncated)");
      continue;
    }
    const std::string why = DecodeProblem(bytes);
    if (!why.empty()) problems.push_back(name + ": does not decode: " + why);
  }
  return problems;
}

int CountLines(const std::string& text, const std::string& line) {
  int n = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    if (text.compare(start, nl - start, line) == 0) ++n;
    start = nl + 1;
  }
  return n;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace faults
