#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <system_error>

#include "support/support.h"

fs::path BatchExe() {
  const char* bin = std::getenv("VDB_BINARY_DIR");
  // Run by hand from build/tests: the build folder is one level up.
  const fs::path build = bin ? fs::path(bin) : fs::read_symlink("/proc/self/exe").parent_path().parent_path();
  return build / "src" / "batch" / "veltano-batch";
}

BatchChild::BatchChild(const std::vector<std::string>& args) {
  // Everything the child needs is prepared before the fork: between fork
  // and exec only async-signal-safe calls are allowed.
  std::vector<std::string> all = {BatchExe().string()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 || (pid_ = fork()) < 0)
    throw std::system_error(errno, std::generic_category());
  if (pid_ == 0) {
    dup2(open("/dev/null", O_RDONLY), 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGINT, SIG_DFL);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  fd_[0] = out[0];
  fd_[1] = err[0];
}

BatchChild::~BatchChild() { Wait(0); }

bool BatchChild::Pump(double seconds, const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0 || (fd_[0] < 0 && fd_[1] < 0)) return false;
    pollfd p[2] = {{fd_[0], POLLIN, 0}, {fd_[1], POLLIN, 0}};
    poll(p, 2, static_cast<int>(left.count()));
    for (int i = 0; i < 2; ++i) {
      if (p[i].revents == 0) continue;
      char buf[4096];
      const ssize_t got = read(fd_[i], buf, sizeof buf);
      if (got > 0) {
        text_[i].append(buf, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fd_[i]);
        fd_[i] = -1;
      }
    }
  }
  return true;
}

int BatchChild::Wait(double seconds) {
  if (pid_ <= 0) return -1;
  // The pipes close with the child: all of its output is in.
  const bool ended = Pump(seconds, [this] { return fd_[0] < 0 && fd_[1] < 0; });
  if (!ended) kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  for (int fd : fd_)
    if (fd >= 0) close(fd);
  return !ended ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

Outcome RunBatch(const std::vector<std::string>& args) {
  BatchChild child(args);
  const int code = child.Wait();
  return {code, child.out(), child.err()};
}
