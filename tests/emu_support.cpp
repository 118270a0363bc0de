#include "emu_support.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

namespace ktnet::testing {

namespace {

pid_t read_pid(const std::filesystem::path& pid_file) {
    std::ifstream in(pid_file);
    pid_t pid = 0;
    in >> pid;
    return pid;
}

}  // namespace

TerminalRun run_on_terminal(
    const std::vector<std::string>& command, const std::filesystem::path& cwd,
    const std::filesystem::path& pid_file, int signal,
    const std::function<bool(const std::string&, std::chrono::milliseconds)>& kill_when) {
    std::filesystem::remove(pid_file);
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return {};
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) return {};
    if (pid == 0) {
        // The terminal is the command's output but not its controlling terminal, so that the
        // command's end does not hang the terminal up before its output has been read.
        dup2(slave, 0);
        dup2(slave, 1);
        const int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, 2);  // the emulator's own messages would mix in
        close(master);
        if (chdir(cwd.c_str()) != 0) _exit(126);
        std::vector<char*> argv;
        for (const auto& a : command) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::string seen;
    bool signalled = false;
    int status = 0;
    bool exited = false;
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 2) > 0) {
            char buffer[256];
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n > 0) seen.append(buffer, static_cast<std::size_t>(n));
            continue;  // drain before looking at anything else
        }
        if (exited) break;  // and nothing more to read
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        if (!signalled && kill_when(seen, elapsed)) {
            const pid_t program = read_pid(pid_file);
            if (program > 0) {
                kill(program, signal);
                signalled = true;
            }
        }
        exited = waitpid(pid, &status, WNOHANG) == pid;
    }
    close(master);
    close(slave);
    return {static_cast<std::size_t>(std::count(seen.begin(), seen.end(), '*')),
            WIFEXITED(status) ? WEXITSTATUS(status) : -1, seen};
}

}  // namespace ktnet::testing
