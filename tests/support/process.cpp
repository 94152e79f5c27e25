#include "support/process.h"

#include "platform/system.h"

#ifdef _WIN32
#include <windows.h>

#include <thread>

#include "platform/win32/wide.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
extern char** environ;
#endif

namespace nulvane::testing {

Text CliPath() {
  Text path = platform::ExecutablePath();
  for (int level = 0; level < 2; ++level) {
    const std::size_t cut = path.find_last_of(u"\\/");
    if (cut == Text::npos) return Text();
    path.resize(cut);
  }
#ifdef _WIN32
  return path + u"\\src\\nulvane-cli.exe";
#else
  return path + u"/src/nulvane-cli";
#endif
}

#ifdef _WIN32

namespace {

Text Quote(const Text& arg) {
  Text out = u"\"";
  std::size_t slashes = 0;
  for (const char16_t c : arg) {
    if (c == u'\\') {
      ++slashes;
      continue;
    }
    if (c == u'"')
      out.append(slashes * 2 + 1, u'\\');
    else
      out.append(slashes, u'\\');
    slashes = 0;
    out += c;
  }
  out.append(slashes * 2, u'\\');
  return out + u"\"";
}

void Drain(HANDLE pipe, std::string* into) {
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) into->append(buffer, n);
}

}  // namespace

ProcessResult RunProgram(const Text& program, const std::vector<Text>& args) {
  return RunProgram(program, args, nullptr);
}

ProcessResult RunProgram(const Text& program, const std::vector<Text>& args,
                         const std::function<void(void* process)>& while_running) {
  ProcessResult result;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE out_read, out_write, err_read, err_write;
  CreatePipe(&out_read, &out_write, &inherit, 0);
  CreatePipe(&err_read, &err_write, &inherit, 0);
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = out_write;
  startup.hStdError = err_write;
  Text command = Quote(program);
  for (const Text& arg : args) command += u" " + Quote(arg);
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(platform::Wide(program), platform::Wide(command), nullptr,
                                      nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
  CloseHandle(out_write);
  CloseHandle(err_write);
  CloseHandle(input);
  if (started) {
    std::thread actor;
    if (while_running) actor = std::thread(while_running, process.hProcess);
    std::thread err_reader(Drain, err_read, &result.err);
    Drain(out_read, &result.out);
    err_reader.join();
    if (actor.joinable()) actor.join();
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result.exit_code = static_cast<int>(code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  CloseHandle(out_read);
  CloseHandle(err_read);
  // The console writes CRLF into files and pipes; tests compare with LF.
  for (std::string* text : {&result.out, &result.err}) {
    std::string plain;
    for (const char c : *text) {
      if (c != '\r') plain += c;
    }
    *text = plain;
  }
  return result;
}

#else

ProcessResult RunProgram(const Text& program, const std::vector<Text>& args) {
  ProcessResult result;
  std::vector<std::string> strings{platform::TextToUtf8(program)};
  for (const Text& arg : args) strings.push_back(platform::TextToUtf8(arg));
  std::vector<char*> argv;
  for (std::string& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (spawned == 0) {
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    int open_count = 2;
    while (open_count > 0) {
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      for (int k = 0; k < 2; ++k) {
        if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char buffer[4096];
        const ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
        if (n > 0) {
          (k == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
        } else {
          fds[k].fd = -1;
          --open_count;
        }
      }
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  close(out_pipe[0]);
  close(err_pipe[0]);
  return result;
}

#endif

}  // namespace nulvane::testing
