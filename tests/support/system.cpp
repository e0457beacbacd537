#include "system.hpp"

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#ifdef _WIN32
#include <process.h>

#include <cstdlib>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char **environ;
#endif

namespace fs = std::filesystem;

namespace qmrtest {

long processId() {
#ifdef _WIN32
  return static_cast<long>(_getpid());
#else
  return static_cast<long>(getpid());
#endif
}

fs::path scratch(const std::string &tag) {
  static unsigned counter = 0;
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const fs::path p =
        base / ("qmr-" + tag + "-" + std::to_string(processId()) + "-" +
                std::to_string(++counter));
    std::error_code ec;
    if (fs::create_directory(p, ec)) return p;
  }
  throw std::runtime_error("cannot make a scratch folder for " + tag);
}

std::string readFile(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return {};
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeFile(const fs::path &p, const std::string &text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

namespace {
// Changes the working folder while it lives. The program started meanwhile
// inherits it; the tests start one program at a time.
class InFolder {
public:
  explicit InFolder(const fs::path &dir) : home_(fs::current_path()) {
    fs::current_path(dir);
  }
  ~InFolder() {
    std::error_code ec;
    fs::current_path(home_, ec);
  }
  InFolder(const InFolder &) = delete;
  InFolder &operator=(const InFolder &) = delete;

private:
  fs::path home_;
};

#ifdef _WIN32
// A command-line word in double quotes (the words passed here hold no
// double quote of their own).
std::string quoted(const std::string &w) { return "\"" + w + "\""; }
#endif
} // namespace

#ifdef _WIN32

// Through the command interpreter, every word quoted; the time limit is not
// enforced here.
int runProgram(const fs::path &dir, const std::vector<std::string> &argv,
               const fs::path &out, const fs::path &err, int /*timeLimit*/) {
  if (argv.empty()) throw std::runtime_error("no program to run");
  std::string cmd;
  for (const auto &a : argv) cmd += quoted(a) + " ";
  cmd += "<NUL >" + quoted(fs::absolute(out).string()) + " 2>" +
         quoted(fs::absolute(err).string());
  InFolder here(dir);
  // cmd.exe drops the outer pair of quotes of the whole command.
  return std::system(("\"" + cmd + "\"").c_str());
}

#else

namespace {
int statusOf(int wstatus) {
  if (WIFEXITED(wstatus)) return WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) return -WTERMSIG(wstatus);
  return -1;
}

int waitFor(pid_t pid) {
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0)
    if (errno != EINTR) throw std::runtime_error("cannot wait for the program");
  return statusOf(wstatus);
}

// Waits at most `seconds`; true with the status when the program ended.
bool waitAtMost(pid_t pid, double seconds, int &status) {
  using clock = std::chrono::steady_clock;
  const auto until = clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    int wstatus = 0;
    const pid_t got = waitpid(pid, &wstatus, WNOHANG);
    if (got == pid) {
      status = statusOf(wstatus);
      return true;
    }
    if (got < 0 && errno != EINTR)
      throw std::runtime_error("cannot wait for the program");
    if (clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}
} // namespace

int runProgram(const fs::path &dir, const std::vector<std::string> &argv,
               const fs::path &out, const fs::path &err, int timeLimit) {
  if (argv.empty()) throw std::runtime_error("no program to run");
  const std::string outPath = fs::absolute(out).string();
  const std::string errPath = fs::absolute(err).string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char *> args;
  for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  int rc = 0;
  {
    InFolder here(dir);
    rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  }
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0)
    throw std::runtime_error("cannot start " + argv[0] + ": " +
                             std::strerror(rc));
  if (timeLimit <= 0) return waitFor(pid);
  int status = 0;
  if (waitAtMost(pid, timeLimit, status)) return status;
  kill(pid, SIGTERM);
  if (!waitAtMost(pid, 5.0, status)) {
    kill(pid, SIGKILL);
    waitFor(pid);
  }
  return kTimedOut;
}

#endif

} // namespace qmrtest
