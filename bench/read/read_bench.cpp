// One read of a whole text file, for run-read-bench to time from outside:
//   read_bench pellim FILE   the program's own read, keeping 81 characters
//   read_bench naive FILE    QFile::readAll and QString::fromUtf8
//   read_bench idle          everything but the read: the memory baseline
#include "files/FileAccess.h"
#include "paths/FolderProtection.h"

#include <QFile>
#include <QString>

#include <cstdio>
#include <cstring>

int main(int argc, char **argv) {
    using namespace pellim;
    UnguardedProtection unguarded;
    PosixFileAccess files(unguarded);
    if (argc == 2 && std::strcmp(argv[1], "idle") == 0)
        return 0;
    if (argc != 3) {
        std::fprintf(stderr, "usage: read_bench pellim|naive FILE | read_bench idle\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[2]);
    if (std::strcmp(argv[1], "pellim") == 0) {
        const auto text = files.readText(FileUrl::fromLocalPath(path, false), 81);
        if (!text)
            return 1;
        std::printf("%lld %d\n", static_cast<long long>(text->text.size()), text->more ? 1 : 0);
        return 0;
    }
    if (std::strcmp(argv[1], "naive") == 0) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        const QString text = QString::fromUtf8(file.readAll());
        std::printf("%lld\n", static_cast<long long>(text.size()));
        return 0;
    }
    return 2;
}
