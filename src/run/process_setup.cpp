// Standard descriptors, the file size signal, and the last check of standard output.
#include "run/process_setup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace tidewrack {

void prepareProcess() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        // open() returns the lowest free descriptor: the closed one.
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDWR) != fd) {
            break;
        }
    }
    std::signal(SIGXFSZ, SIG_IGN);
}

int finishStandardOutput(int status) {
    std::fflush(stdout);
    noteOutputError();
    if (firstOutputError == 0) {
        return status;
    }
    std::fprintf(stderr, "tidewrack: error writing standard output: %s\n",
                 std::strerror(firstOutputError));
    return 1;
}

}  // namespace tidewrack
