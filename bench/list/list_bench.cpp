// Helper for run-list-bench: makes the test folder, and measures one listing or
// one pick in a fresh process, printing its findings as "key value" lines.
//
//   list_bench make DIR COUNT   COUNT-1 empty non-text files and one readable .txt
//   list_bench list DIR         one listing: time of the call, heap it keeps, peak
//   list_bench pick DIR         one pick in a chosen folder, through the main window
#include "files/FileAccess.h"
#include "journal/Log.h"
#include "panels/Alert.h"
#include "panels/FileDialogs.h"
#include "paths/FolderProtection.h"
#include "window/RandomSource.h"
#include "window/Services.h"
#include "window/ViewController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace pellim;

// Bytes the allocator has handed out, small blocks and mapped ones alike.
std::size_t heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM").
long statusKiB(const char *field) {
    FILE *f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long value = -1;
    const std::size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
            value = std::strtol(line + length + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(f);
    return value;
}

int make(const char *dir, long count) {
    if (mkdir(dir, 0755) != 0 && errno != EEXIST) {
        std::perror(dir);
        return 1;
    }
    std::string path;
    char name[64];
    for (long i = 1; i < count; ++i) {
        std::snprintf(name, sizeof name, "/entry-%07ld.dat", i);
        path = std::string(dir) + name;
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || close(fd) != 0) {
            std::perror(path.c_str());
            return 1;
        }
    }
    path = std::string(dir) + "/readme.txt";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    static const char text[] = "The one readable text file among the entries.\n";
    if (fd < 0 || write(fd, text, sizeof text - 1) != sizeof text - 1 || close(fd) != 0) {
        std::perror(path.c_str());
        return 1;
    }
    return 0;
}

int list(const char *dir) {
    UnguardedProtection protection;
    PosixFileAccess files(protection);
    const FileUrl folder = FileUrl::fromLocalPath(QString::fromLocal8Bit(dir), true);
    const long rssBefore = statusKiB("VmRSS");
    const std::size_t heapBefore = heapInUse();
    QElapsedTimer clock;
    clock.start();
    const std::optional<DirectoryListing> listing = files.list(folder);
    const qint64 ns = clock.nsecsElapsed();
    const std::size_t heapAfter = heapInUse();
    const long peak = statusKiB("VmHWM");
    if (!listing) {
        std::fprintf(stderr, "list_bench: cannot list %s\n", dir);
        return 1;
    }
    std::size_t nameBytes = 0;
    for (std::size_t i = 0; i < listing->size(); ++i)
        nameBytes += static_cast<std::size_t>(listing->name(i).toUtf8().size());
    std::printf("entries %zu\nname_bytes %zu\nlist_ns %lld\nheap_kept %zu\nrss_before_kib %ld\n"
                "hwm_after_kib %ld\n",
                listing->size(), nameBytes, static_cast<long long>(ns), heapAfter - heapBefore,
                rssBefore, peak);
    return 0;
}

// Counts the reads a pick tried.
struct ReadCounter final : LogSink {
    int reads = 0;
    void write(const LogEntry &e) override {
        reads += e.message.contains(QLatin1String("trying to read from: ")) ? 1 : 0;
    }
};

int pick(int argc, char **argv, const char *dir) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ReadCounter log;
    UnguardedProtection protection;
    QtFileDialogs dialogs(protection);
    QtAlert alert;
    PosixFileAccess files(protection);
    SystemRandomSource random;
    ViewController window(Services{log, dialogs, alert, files, random});
    const FileUrl folder = FileUrl::fromLocalPath(QString::fromLocal8Bit(dir), true);
    QElapsedTimer clock;
    clock.start();
    window.pickTextFile(folder, ViewController::PickVariant::ChosenFolder);
    const qint64 ns = clock.nsecsElapsed();
    const int reads = log.reads;
    std::printf("pick_ns %lld\nreads %d\nfound %d\n", static_cast<long long>(ns), reads,
                window.fileName->text().startsWith(QLatin1Char('[')) ? 0 : 1);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 4 && std::strcmp(argv[1], "make") == 0)
        return make(argv[2], std::strtol(argv[3], nullptr, 10));
    if (argc == 3 && std::strcmp(argv[1], "list") == 0)
        return list(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "pick") == 0)
        return pick(argc, argv, argv[2]);
    std::fprintf(stderr, "usage: list_bench make DIR COUNT | list DIR | pick DIR\n");
    return 2;
}
