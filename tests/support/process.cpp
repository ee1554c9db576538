#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "support/support.h"

fs::path BatchExe() {
  const char* bin = std::getenv("VDB_BINARY_DIR");
  // Run by hand from build/tests: the build folder is one level up.
  const fs::path build = bin ? fs::path(bin) : fs::read_symlink("/proc/self/exe").parent_path().parent_path();
  return build / "src" / "batch" / "veltano-batch";
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
