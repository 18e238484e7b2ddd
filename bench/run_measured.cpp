// Runs one program and reports its wall time and peak resident memory, for the benchmark
// script: wait4 gives the child's own peak (ru_maxrss), free of any shell in between.
//
// Usage: run_measured <stdout file> <program> [arguments...]
// The program's standard output goes to the file (use /dev/null to drop it); its standard
// error is kept. Prints "<wall seconds> <CPU seconds> <peak RSS KiB> <exit status>", the CPU
// time being user plus system time of the program (less sensitive than the wall time to other
// work on the machine).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <stdout file> <program> [arguments...]\n", argv[0]);
        return 2;
    }
    const int out = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) {
        std::perror(argv[1]);
        return 2;
    }
    timespec start{}, end{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t child = fork();
    if (child == 0) {
        dup2(out, STDOUT_FILENO);
        close(out);
        execvp(argv[2], argv + 2);
        std::perror(argv[2]);
        _exit(127);
    }
    close(out);
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) < 0) {
        std::perror("run_measured");
        return 2;
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    const double seconds =
        static_cast<double>(end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::printf("%.4f %.4f %ld %d\n", seconds, cpu, usage.ru_maxrss, code);
    return 0;
}
