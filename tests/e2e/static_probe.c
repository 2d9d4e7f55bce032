// SPDX-License-Identifier: GPL-3.0-or-later
// A statically linked program, which no preloaded library reaches: it reads
// its first argument to standard output and makes its second, and says which
// of the two failed and why.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc != 3)
        return 2;
    int status = 0;
    int fd = open(argv[1], O_RDONLY);
    if (fd < 0) {
        printf("read: %s\n", strerror(errno));
        status = 1;
    } else {
        char buffer[4096];
        ssize_t got;
        while ((got = read(fd, buffer, sizeof buffer)) > 0)
            fwrite(buffer, 1, (size_t)got, stdout);
        close(fd);
    }
    fd = open(argv[2], O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        printf("write: %s\n", strerror(errno));
        status = 1;
    } else {
        close(fd);
    }
    return status;
}
