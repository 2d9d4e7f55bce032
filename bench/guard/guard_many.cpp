// Many processes making held calls at once, for run-many: run under
// `pellim-guard run` and without it.
//
//   guard_many FOLDER PROCESSES ROUNDS
//
// FOLDER lies outside the guarded folders and holds a file "shared". The
// program forks PROCESSES processes, which wait at a barrier and then each make
// ROUNDS rounds of calls: opening "shared" to read, making its own file in
// FOLDER, opening /etc/passwd to read (the calls the guard holds), and a stat of
// each of the two files read (which it does not hold); at the end each removes
// its file (held). Every call's result is checked, and each process writes its
// counts into memory it shares with this one. Prints
//
//   pid P
//   held N stats S failed F calling T wall W
//
// T: seconds from the first call of any process to the end of the last call of
// any; W: from the barrier's release to the last process's end, exits and all.
// Then it waits for its
// standard input to end, so that whoever started it can read the guard's memory
// while the guard still runs.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

namespace {

struct Counts {
    std::uint64_t held = 0;
    std::uint64_t stats = 0;
    std::uint64_t failed = 0;
    // CLOCK_MONOTONIC at the first call and after the last.
    std::int64_t firstNs = 0;
    std::int64_t lastNs = 0;
};

std::int64_t nowNs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// What one process of the many does; its counts are its own slot.
class Worker {
public:
    Worker(const std::string &folder, int index, Counts &counts)
        : m_shared(folder + "/shared"), m_own(folder + "/p" + std::to_string(index)),
          m_counts(counts) {}

    void run(int rounds) {
        m_counts.firstNs = nowNs();
        for (int round = 0; round < rounds; ++round) {
            readOne(m_shared.c_str());
            writeOwn();
            readOne("/etc/passwd");
            statOne(m_shared.c_str());
            statOne("/etc/passwd");
        }
        ++m_counts.held;
        if (::unlink(m_own.c_str()) != 0)
            fail("unlink", m_own.c_str());
        m_counts.lastNs = nowNs();
    }

private:
    void readOne(const char *path) {
        ++m_counts.held;
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return fail("open", path);
        char byte = 0;
        if (::read(fd, &byte, 1) != 1)
            fail("read", path);
        ::close(fd);
    }

    void writeOwn() {
        ++m_counts.held;
        // Made in the first round, opened to write in the others: the guard
        // decides both alike, and the file system's own cost stays small.
        const int fd = ::open(m_own.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return fail("open to write", m_own.c_str());
        if (::close(fd) != 0)
            fail("close", m_own.c_str());
    }

    void statOne(const char *path) {
        ++m_counts.stats;
        struct stat st {};
        if (::stat(path, &st) != 0)
            fail("stat", path);
    }

    void fail(const char *what, const char *path) {
        // The first failure of each process says what it was; the count says how many.
        if (m_counts.failed++ == 0)
            std::fprintf(stderr, "guard_many: %s %s: %s\n", what, path, std::strerror(errno));
    }

    std::string m_shared;
    std::string m_own;
    Counts &m_counts;
};

double seconds(const timespec &from, const timespec &to) {
    return double(to.tv_sec - from.tv_sec) + double(to.tv_nsec - from.tv_nsec) / 1e9;
}

// Forks the workers, releases them at once, and waits for them all; the wall
// time from the release to the last one's end, or a negative time on failure.
double runAll(const std::string &folder, int processes, int rounds, Counts *counts) {
    int barrier[2];
    if (::pipe2(barrier, O_CLOEXEC) != 0)
        return -1;
    for (int i = 0; i < processes; ++i) {
        const pid_t pid = ::fork();
        if (pid < 0) {
            std::perror("guard_many: fork");
            return -1;
        }
        if (pid == 0) {
            ::close(barrier[1]);
            char none = 0;
            // End of file once every worker has been forked.
            while (::read(barrier[0], &none, 1) < 0 && errno == EINTR) {
            }
            Worker(folder, i, counts[i]).run(rounds);
            std::fflush(stderr);
            ::_exit(0);
        }
    }
    ::close(barrier[0]);
    timespec start{}, end{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    ::close(barrier[1]);
    int ended = 0;
    int status = 0;
    while (::wait(&status) > 0) {
        ++ended;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            ++counts[processes].failed; // a worker that did not finish its rounds
    }
    ::clock_gettime(CLOCK_MONOTONIC, &end);
    return ended == processes ? seconds(start, end) : -1;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: guard_many FOLDER PROCESSES ROUNDS\n");
        return 2;
    }
    const std::string folder = argv[1];
    const int processes = std::atoi(argv[2]);
    const int rounds = std::atoi(argv[3]);
    if (processes < 1 || rounds < 1) {
        std::fprintf(stderr, "guard_many: PROCESSES and ROUNDS must be positive\n");
        return 2;
    }
    // One slot per worker and one for the workers that died, in memory the
    // forks share with this process.
    const std::size_t size = sizeof(Counts) * std::size_t(processes + 1);
    void *memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        std::perror("guard_many: mmap");
        return 1;
    }
    auto *counts = new (memory) Counts[std::size_t(processes + 1)];
    std::printf("pid %d\n", int(::getpid()));
    std::fflush(stdout);
    const double wall = runAll(folder, processes, rounds, counts);
    if (wall < 0)
        return 1;
    Counts total;
    total.firstNs = counts[0].firstNs;
    for (int i = 0; i <= processes; ++i) {
        total.held += counts[i].held;
        total.stats += counts[i].stats;
        total.failed += counts[i].failed;
        if (i < processes) {
            total.firstNs = std::min(total.firstNs, counts[i].firstNs);
            total.lastNs = std::max(total.lastNs, counts[i].lastNs);
        }
    }
    std::printf("held %llu stats %llu failed %llu calling %.6f wall %.6f\n",
                (unsigned long long)total.held, (unsigned long long)total.stats,
                (unsigned long long)total.failed, double(total.lastNs - total.firstNs) / 1e9, wall);
    std::fflush(stdout);
    char rest[64];
    while (::read(0, rest, sizeof rest) > 0) {
    }
    return 0;
}
