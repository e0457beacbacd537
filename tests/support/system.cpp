#include "system.hpp"

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <process.h>
#include <windows.h>
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
#ifndef _WIN32
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
#else
// One word of a command line as the C runtime splits it again: quoted
// when it holds a blank or a quote, backslashes doubled before a quote.
std::wstring quoted(const std::wstring &w) {
  if (!w.empty() && w.find_first_of(L" \t\"") == std::wstring::npos) return w;
  std::wstring r = L"\"";
  std::size_t slashes = 0;
  for (const wchar_t c : w) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    r.append(c == L'"' ? 2 * slashes + 1 : slashes, L'\\');
    r += c;
    slashes = 0;
  }
  r.append(2 * slashes, L'\\');
  return r + L"\"";
}

// A handle the started program inherits.
HANDLE inheritable(const fs::path &p, bool write) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return CreateFileW(p.wstring().c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     &sa, write ? CREATE_ALWAYS : OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}
#endif
} // namespace

#ifdef _WIN32

int runProgram(const fs::path &dir, const std::vector<std::string> &argv,
               const fs::path &out, const fs::path &err, int timeLimit) {
  if (argv.empty()) throw std::runtime_error("no program to run");
  std::wstring cmd = quoted(fs::path(argv[0]).make_preferred().wstring());
  for (std::size_t i = 1; i < argv.size(); ++i)
    cmd += L" " + quoted(fs::path(argv[i]).wstring());
  HANDLE in = inheritable("NUL", false);
  HANDLE o = inheritable(fs::absolute(out), true);
  HANDLE e = inheritable(fs::absolute(err), true);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = o;
  si.hStdError = e;
  PROCESS_INFORMATION pi{};
  const BOOL started =
      in != INVALID_HANDLE_VALUE && o != INVALID_HANDLE_VALUE &&
      e != INVALID_HANDLE_VALUE &&
      CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr,
                     fs::absolute(dir).wstring().c_str(), &si, &pi);
  for (HANDLE h : {in, o, e})
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  if (!started) throw std::runtime_error("cannot start " + argv[0]);
  int status = 0;
  const DWORD limit =
      timeLimit > 0 ? static_cast<DWORD>(timeLimit) * 1000 : INFINITE;
  if (WaitForSingleObject(pi.hProcess, limit) == WAIT_TIMEOUT) {
    TerminateProcess(pi.hProcess, kTimedOut);
    WaitForSingleObject(pi.hProcess, INFINITE);
    status = kTimedOut;
  } else {
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    status = static_cast<int>(code);
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return status;
}

ExclusiveHold::ExclusiveHold(const fs::path &p)
    : handle_(CreateFileW(p.wstring().c_str(), GENERIC_READ, 0, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}

ExclusiveHold::~ExclusiveHold() {
  if (held()) CloseHandle(handle_);
}

bool ExclusiveHold::held() const { return handle_ != INVALID_HANDLE_VALUE; }

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
