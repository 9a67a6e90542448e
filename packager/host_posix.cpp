// The packager's platform layer on POSIX systems (Linux): stat, iconv, posix_spawn, signals.
#include "packager/package_host.h"

#include <iconv.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

bool ReadFileFacts(const std::filesystem::path& path, int64_t& modified, uint16_t& attributes) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  modified = st.st_mtime;
  // As Wine shows such files: archive; read-only when the owner cannot write; hidden for a dot file.
  attributes = 0x20;
  if (!(st.st_mode & S_IWUSR)) attributes |= 0x01;
  if (path.filename().string()[0] == '.') attributes |= 0x02;
  return true;
}

bool IsLink(const std::filesystem::path& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool BackslashSeparatesFolders() { return false; }

bool CalendarTime(int64_t seconds, bool utc, std::tm& out) {
  time_t t = time_t(seconds);
  return (utc ? gmtime_r(&t, &out) : localtime_r(&t, &out)) != nullptr;
}

bool ConvertToCodePage(const std::string& utf8, int codePage, std::string& out) {
  out.clear();
  iconv_t cd = iconv_open(("CP" + std::to_string(codePage)).c_str(), "UTF-8");
  if (cd == iconv_t(-1)) return false;
  std::string in = utf8;
  char* from = &in[0];
  size_t fromLeft = in.size();
  std::string buffer(in.size() * 4 + 16, '\0');
  char* to = &buffer[0];
  size_t toLeft = buffer.size();
  bool ok = iconv(cd, &from, &fromLeft, &to, &toLeft) != size_t(-1) && fromLeft == 0 &&
            iconv(cd, nullptr, nullptr, &to, &toLeft) != size_t(-1);
  iconv_close(cd);
  if (ok) out.assign(buffer.data(), buffer.size() - toLeft);
  return ok;
}

std::filesystem::path OwnExecutablePath() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : self;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

bool RunProgram(const std::vector<std::string>& words, const std::filesystem::path& folder, int& exitCode,
                std::string& error) {
  std::vector<char*> argv;
  for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int failed = folder.empty() ? 0 : posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  if (failed == 0) failed = words.empty() ? ENOENT : posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) {
    error = "cannot start \"" + (words.empty() ? std::string() : words[0]) + "\": " + std::strerror(failed);
    return false;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      error = std::string("cannot wait for it: ") + std::strerror(errno);
      return false;
    }
  }
  if (WIFEXITED(status)) {
    exitCode = WEXITSTATUS(status);
    return true;
  }
  error = "\"" + words[0] + "\" was ended by signal " + std::to_string(WTERMSIG(status));
  return false;
}

bool ErrorIsTerminal() { return isatty(2) != 0; }

namespace {

// Fixed slots, so that the signal handler touches no allocator.
constexpr int StagingSlots = 4;
char StagingPaths[StagingSlots][4096];
volatile sig_atomic_t StagingUsed[StagingSlots];

void OnTerminatingSignal(int signal) {
  for (int i = 0; i < StagingSlots; ++i)
    if (StagingUsed[i]) unlink(StagingPaths[i]);
  ::signal(signal, SIG_DFL);
  raise(signal);
}

}  // namespace

void RemoveWhenInterrupted(const std::filesystem::path& path) {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_handler = OnTerminatingSignal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
  }();
  (void)installed;
  const std::string& name = path.native();
  for (int i = 0; i < StagingSlots; ++i) {
    if (StagingUsed[i] || name.size() >= sizeof StagingPaths[i]) continue;
    std::memcpy(StagingPaths[i], name.c_str(), name.size() + 1);
    StagingUsed[i] = 1;
    return;
  }
}

void ForgetWhenInterrupted(const std::filesystem::path& path) {
  for (int i = 0; i < StagingSlots; ++i)
    if (StagingUsed[i] && path.native() == StagingPaths[i]) StagingUsed[i] = 0;
}

bool Interrupted() { return false; }

std::FILE* OpenFileForWriting(const std::filesystem::path& path) { return std::fopen(path.c_str(), "wb"); }
