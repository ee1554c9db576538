#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "support/support.h"

namespace {

fs::path BatchExe() {
  const char* bin = std::getenv("VDB_BINARY_DIR");  // unset when run by hand from build/tests
  const fs::path build = bin ? fs::path(bin) : fs::read_symlink("/proc/self/exe").parent_path().parent_path();
  return build / "src/batch/veltano-batch";
}

}  // namespace

// The child's output goes to memory files that are read whole while it runs:
// no pipe can fill up and stall it.
BatchChild::BatchChild(const std::vector<std::string>& args, bool wait) {
  std::string exe = BatchExe().string();
  std::vector<char*> argv = {exe.data()};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (int& fd : fd_) fd = memfd_create("batch", MFD_CLOEXEC);
  if (fd_[0] < 0 || fd_[1] < 0 || (pid_ = fork()) < 0) throw std::system_error(errno, std::generic_category());
  if (pid_ == 0) {  // only async-signal-safe calls until exec; no terminal to ask questions on
    dup2(open("/dev/null", O_RDONLY), 0);
    dup2(fd_[0], 1);
    dup2(fd_[1], 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (wait) Wait();
}

BatchChild::~BatchChild() {
  Wait(0);
  for (int fd : fd_) close(fd);
}

bool BatchChild::Poll(double seconds, const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (int status = 0;; usleep(2000)) {
    if (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_) {
      code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      pid_ = -1;
    }
    for (auto [fd, text] : {std::pair{fd_[0], &out}, {fd_[1], &err}}) {  // a file of its own: the offset is the child's
      std::ifstream file("/proc/self/fd/" + std::to_string(fd));
      text->assign(std::istreambuf_iterator<char>(file), {});
    }
    if (done()) return true;
    if (pid_ < 0 || std::chrono::steady_clock::now() > end) return false;
  }
}

int BatchChild::Wait(double seconds) {
  if (!Poll(seconds, [this] { return pid_ < 0; })) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  return code;
}
