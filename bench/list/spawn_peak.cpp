// Runs one command and reports its wall time and peak resident set. A small
// launcher of its own, because the peak the kernel reports for a child includes
// what the child held before exec: a child forked from a large program (Python,
// Qt) would carry that program's size into the figure.
//
//   spawn_peak [--null] COMMAND ARGS...   (--null: the command's output to /dev/null)
// Prints "wall_ns N" and "peak_kib N" after the command's own output.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char **environ;

int main(int argc, char **argv) {
    int first = 1;
    const bool toNull = argc > 1 && std::strcmp(argv[1], "--null") == 0;
    if (toNull)
        ++first;
    if (first >= argc) {
        std::fprintf(stderr, "usage: spawn_peak [--null] COMMAND ARGS...\n");
        return 2;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (toNull)
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::fflush(stdout);

    timespec start{}, end{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv[first], &actions, nullptr, argv + first, environ);
    if (error != 0) {
        std::fprintf(stderr, "spawn_peak: cannot run %s: %s\n", argv[first], std::strerror(error));
        return 1;
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
        std::perror("spawn_peak: wait4");
        return 1;
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    posix_spawn_file_actions_destroy(&actions);
    const long long ns = (end.tv_sec - start.tv_sec) * 1000000000LL + (end.tv_nsec - start.tv_nsec);
    std::printf("wall_ns %lld\npeak_kib %ld\n", ns, usage.ru_maxrss);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "spawn_peak: %s did not succeed\n", argv[first]);
        return 1;
    }
    return 0;
}
