// Subprocesses for the tests: a program run to its end with its standard input fed and both
// outputs drained through pipes, or started in the background and waited for.
#include "run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace testkit {

namespace {

[[noreturn]] void execBinary(const std::string& binary, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    std::string program = binary;
    argv.push_back(program.data());
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    setenv("TZ", "UTC", 1);
    execv(program.c_str(), argv.data());
    _exit(127);
}

int decodeStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

Outcome runBinary(const std::string& binary, const std::vector<std::string>& args,
                  const std::string& input, unsigned user) {
    int out[2], err[2], in[2];
    if (pipe(out) != 0 || pipe(err) != 0 || pipe(in) != 0) {
        throw std::runtime_error("pipe");
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {out[0], out[1], err[0], err[1], in[0], in[1]}) {
            close(fd);
        }
        if (user != 0 && (setgid(user) != 0 || setuid(user) != 0)) {
            _exit(126);
        }
        execBinary(binary, args);
    }
    close(out[1]);
    close(err[1]);
    close(in[0]);
    // Feed the input while draining both outputs, so no pipe can fill up and stall the child.
    std::size_t written = 0;
    int inFd = in[1];
    if (input.empty()) {
        close(inFd);
        inFd = -1;
    } else {
        fcntl(inFd, F_SETFL, O_NONBLOCK);
    }
    Outcome run{};
    std::string* sinks[] = {&run.out, &run.err};
    int openOutputs = 2;
    while (openOutputs > 0) {
        pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {inFd, POLLOUT, 0}};
        poll(fds, inFd >= 0 ? 3 : 2, -1);
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP))) {
                char buffer[65536];
                const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                if (n > 0) {
                    sinks[i]->append(buffer, static_cast<std::size_t>(n));
                } else {
                    close(fds[i].fd);
                    (i == 0 ? out[0] : err[0]) = -1;
                    --openOutputs;
                }
            }
        }
        if (inFd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t n = write(inFd, input.data() + written, input.size() - written);
            written += n > 0 ? static_cast<std::size_t>(n) : 0;
            if (n < 0 || written == input.size()) {
                close(inFd);
                inFd = -1;
            }
        }
    }
    if (inFd >= 0) {
        close(inFd);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = decodeStatus(status);
    return run;
}

Outcome runProgram(const std::vector<std::string>& args, const std::string& input, unsigned user) {
    return runBinary(TIDEWRACK_BINARY, args, input, user);
}

int startProgram(const std::vector<std::string>& args, const std::string& outPath,
                 const std::string& errPath) {
    const int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err =
        errPath.empty() ? fd : open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = open("/dev/null", O_RDONLY);
    const int pid = spawnProgram(args, null, fd, err);
    if (err != fd) {
        close(err);
    }
    close(fd);
    close(null);
    return pid;
}

int spawnProgram(const std::vector<std::string>& args, int in, int out, int err,
                 const std::vector<int>& ignored) {
    const pid_t pid = fork();
    if (pid == 0) {
        // Out of the way of the three, then each in its place or closed.
        const int given[] = {in < 0 ? -1 : fcntl(in, F_DUPFD_CLOEXEC, 3),
                             out < 0 ? -1 : fcntl(out, F_DUPFD_CLOEXEC, 3),
                             err < 0 ? -1 : fcntl(err, F_DUPFD_CLOEXEC, 3)};
        for (int fd = 0; fd < 3; ++fd) {
            if (given[fd] < 0) {
                close(fd);
            } else {
                dup2(given[fd], fd);
            }
        }
        for (int signal : ignored) {
            std::signal(signal, SIG_IGN);
        }
        execBinary(TIDEWRACK_BINARY, args);
    }
    return pid;
}

bool waitUntilCatching(int pid, int signal) {
    for (int tries = 0; tries < 600; ++tries) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("SigCgt:", 0) == 0 &&
                (std::stoull(line.substr(7), nullptr, 16) & (1ull << (signal - 1)))) {
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool waitUntilReadingAPipe(int pid) {
    for (int tries = 0; tries < 600; ++tries) {
        std::ifstream wchan("/proc/" + std::to_string(pid) + "/wchan");
        std::string where;
        if (std::getline(wchan, where) && where.find("pipe_read") != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

int waitProgram(int pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return decodeStatus(status);
}

}  // namespace testkit
