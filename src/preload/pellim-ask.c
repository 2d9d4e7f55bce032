// SPDX-License-Identifier: GPL-3.0-or-later
// Preloaded into a program run with pellim-guard run. The kernel refuses the
// program its calls into the guarded folders (Landlock) without holding
// them; where one of the calls below is refused (EACCES), this makes the same
// call once more, marked (confine/AskWire.h), and the kernel holds that one
// for the guard, which decides it as it decides any held call: it may ask the
// person, do the call itself, and hand an open's descriptor over. What the
// guard lets go on meets Landlock's refusal again, which then stands.
//
// Nothing here decides anything or holds anything the guard relies on: a
// call made around this library keeps Landlock's refusal. So it stays small:
// no state, no allocation, nothing but raw calls, and errno as the call
// itself would leave it.
#define _GNU_SOURCE
#include "confine/AskWire.h"

#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#define EXPORT __attribute__((visibility("default")))

// A call done once asked leaves errno as it was before the refusal, as one
// done at once would.
static long errnoAsBefore(int before, long done) {
    if (done >= 0)
        errno = before;
    return done;
}

// The call `nr` with up to five arguments; refused by Landlock, once more
// marked as the guard's to decide.
static long call(long nr, long a, long b, long c, long d, long e) {
    const int before = errno;
    const long done = syscall(nr, a, b, c, d, e, 0L);
    if (done >= 0 || errno != EACCES)
        return done;
    return errnoAsBefore(before, syscall(nr, a, b, c, d, e, (long)PELLIM_ASK_MARK));
}

// The mode open() takes only when it may create.
#define OPEN_MODE(flags, mode)                                                                     \
    do {                                                                                           \
        if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) {                               \
            va_list args;                                                                          \
            va_start(args, flags);                                                                 \
            mode = va_arg(args, mode_t);                                                           \
            va_end(args);                                                                          \
        }                                                                                          \
    } while (0)

static int openAt(int dirfd, const char *path, int flags, mode_t mode) {
    return (int)call(SYS_openat, dirfd, (long)path, flags, mode, 0);
}

EXPORT int openat(int dirfd, const char *path, int flags, ...) {
    mode_t mode = 0;
    OPEN_MODE(flags, mode);
    return openAt(dirfd, path, flags, mode);
}
EXPORT int openat64(int dirfd, const char *path, int flags, ...) {
    mode_t mode = 0;
    OPEN_MODE(flags, mode);
    return openAt(dirfd, path, flags, mode);
}
EXPORT int open(const char *path, int flags, ...) {
    mode_t mode = 0;
    OPEN_MODE(flags, mode);
    return openAt(AT_FDCWD, path, flags, mode);
}
EXPORT int open64(const char *path, int flags, ...) {
    mode_t mode = 0;
    OPEN_MODE(flags, mode);
    return openAt(AT_FDCWD, path, flags, mode);
}
// What _FORTIFY_SOURCE turns an open without a mode into.
EXPORT int __open_2(const char *path, int flags) {
    return openAt(AT_FDCWD, path, flags, 0);
}
EXPORT int __open64_2(const char *path, int flags) {
    return openAt(AT_FDCWD, path, flags, 0);
}
EXPORT int __openat_2(int dirfd, const char *path, int flags) {
    return openAt(dirfd, path, flags, 0);
}
EXPORT int __openat64_2(int dirfd, const char *path, int flags) {
    return openAt(dirfd, path, flags, 0);
}
EXPORT int creat(const char *path, mode_t mode) {
    return openAt(AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC, mode);
}
EXPORT int creat64(const char *path, mode_t mode) {
    return openAt(AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC, mode);
}

// fopen's and opendir's own opens are inside the C library, out of reach:
// where the C library's own call was refused, the open is asked for here and
// the stream made on its descriptor.
static int streamFlags(const char *mode) {
    int flags = 0;
    switch (*mode) {
    case 'r':
        flags = O_RDONLY;
        break;
    case 'w':
        flags = O_WRONLY | O_CREAT | O_TRUNC;
        break;
    case 'a':
        flags = O_WRONLY | O_CREAT | O_APPEND;
        break;
    default:
        return -1;
    }
    for (const char *c = mode + 1; *c && *c != ','; ++c) {
        if (*c == '+')
            flags = (flags & ~O_ACCMODE) | O_RDWR;
        else if (*c == 'x')
            flags |= O_EXCL;
        else if (*c == 'e')
            flags |= O_CLOEXEC;
    }
    return flags;
}

// The C library's own function of that name. ISO C has no conversion from
// dlsym's pointer to a function's: the bytes are copied, as POSIX allows.
static void nextSymbol(const char *name, void *function, size_t size) {
    void *found = dlsym(RTLD_NEXT, name);
    if (found && size == sizeof found)
        memcpy(function, &found, size);
}

// The marked open of a wrapper whose own try was the C library's, inside it.
static int askedOpen(const char *path, int flags, mode_t mode) {
    return (int)syscall(SYS_openat, AT_FDCWD, path, flags, mode, 0L, (long)PELLIM_ASK_MARK);
}

// Closes a descriptor nothing was made on, keeping the error of the making.
static void closeKeepingErrno(int fd) {
    const int error = errno;
    close(fd);
    errno = error;
}

static FILE *openStream(const char *name, const char *path, const char *mode) {
    FILE *(*next)(const char *, const char *) = NULL;
    nextSymbol(name, &next, sizeof next);
    if (!next) {
        errno = ENOSYS;
        return NULL;
    }
    const int before = errno;
    FILE *stream = next(path, mode);
    const int flags = stream || errno != EACCES ? -1 : streamFlags(mode);
    if (flags < 0)
        return stream;
    const int fd = askedOpen(path, flags, 0666);
    if (fd < 0)
        return NULL;
    stream = fdopen(fd, mode);
    if (!stream)
        closeKeepingErrno(fd);
    errnoAsBefore(before, stream ? 0 : -1);
    return stream;
}

EXPORT FILE *fopen(const char *path, const char *mode) {
    return openStream("fopen", path, mode);
}
EXPORT FILE *fopen64(const char *path, const char *mode) {
    return openStream("fopen64", path, mode);
}

EXPORT DIR *opendir(const char *path) {
    DIR *(*next)(const char *) = NULL;
    nextSymbol("opendir", &next, sizeof next);
    if (!next) {
        errno = ENOSYS;
        return NULL;
    }
    const int before = errno;
    DIR *dir = next(path);
    if (dir || errno != EACCES)
        return dir;
    const int fd = askedOpen(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0)
        return NULL;
    dir = fdopendir(fd);
    if (!dir)
        closeKeepingErrno(fd);
    errnoAsBefore(before, dir ? 0 : -1);
    return dir;
}

// mkstemp and its kin open inside the C library too. Where its own try was
// refused, the name is made here, as it would be made there: the template's
// last six X's before the suffix, tried until one does not exist yet.
static long fillName(char *template, int suffix) {
    const size_t length = strlen(template);
    if (suffix < 0 || length < (size_t)suffix + 6 ||
        memcmp(template + length - suffix - 6, "XXXXXX", 6) != 0) {
        errno = EINVAL;
        return -1;
    }
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char random[6];
    if (syscall(SYS_getrandom, random, sizeof random, 0) != (long)sizeof random)
        return -1;
    for (int i = 0; i < 6; ++i)
        template[length - suffix - 6 + i] = letters[random[i] % (sizeof letters - 1)];
    return 0;
}

static int madeTemporary(char *template, int suffix, int flags, int folder) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (fillName(template, suffix) < 0)
            return -1;
        const long made =
            folder ? syscall(SYS_mkdirat, AT_FDCWD, template, 0700, 0L, 0L, (long)PELLIM_ASK_MARK)
                   : syscall(SYS_openat, AT_FDCWD, template,
                             (flags & ~O_ACCMODE) | O_RDWR | O_CREAT | O_EXCL, 0600, 0L,
                             (long)PELLIM_ASK_MARK);
        if (made >= 0 || errno != EEXIST)
            return (int)made;
    }
    errno = EEXIST;
    return -1;
}

static int temporary(const char *name, char *template, int suffix, int flags) {
    int (*next)(char *, int, int) = NULL;
    nextSymbol(name, &next, sizeof next);
    if (!next) {
        errno = ENOSYS;
        return -1;
    }
    // The C library's own try, then, refused, this one: from the same template.
    const int before = errno;
    const size_t length = strlen(template);
    char kept[PATH_MAX];
    if (length >= sizeof kept)
        return next(template, suffix, flags);
    memcpy(kept, template, length + 1);
    const int fd = next(template, suffix, flags);
    if (fd >= 0 || errno != EACCES)
        return fd;
    memcpy(template, kept, length + 1);
    return (int)errnoAsBefore(before, madeTemporary(template, suffix, flags, 0));
}

EXPORT int mkstemp(char *template) {
    return temporary("mkostemps", template, 0, 0);
}
EXPORT int mkstemp64(char *template) {
    return temporary("mkostemps", template, 0, 0);
}
EXPORT int mkostemp(char *template, int flags) {
    return temporary("mkostemps", template, 0, flags);
}
EXPORT int mkostemp64(char *template, int flags) {
    return temporary("mkostemps", template, 0, flags);
}
EXPORT int mkstemps(char *template, int suffix) {
    return temporary("mkostemps", template, suffix, 0);
}
EXPORT int mkstemps64(char *template, int suffix) {
    return temporary("mkostemps", template, suffix, 0);
}
EXPORT int mkostemps(char *template, int suffix, int flags) {
    return temporary("mkostemps", template, suffix, flags);
}
EXPORT int mkostemps64(char *template, int suffix, int flags) {
    return temporary("mkostemps", template, suffix, flags);
}
EXPORT char *mkdtemp(char *template) {
    char *(*next)(char *) = NULL;
    nextSymbol("mkdtemp", &next, sizeof next);
    if (!next) {
        errno = ENOSYS;
        return NULL;
    }
    const int before = errno;
    const size_t length = strlen(template);
    char kept[PATH_MAX];
    if (length >= sizeof kept)
        return next(template);
    memcpy(kept, template, length + 1);
    char *made = next(template);
    if (made || errno != EACCES)
        return made;
    memcpy(template, kept, length + 1);
    return errnoAsBefore(before, madeTemporary(template, 0, 0, 1)) == 0 ? template : NULL;
}

EXPORT int mkdirat(int dirfd, const char *path, mode_t mode) {
    return (int)call(SYS_mkdirat, dirfd, (long)path, mode, 0, 0);
}
EXPORT int mkdir(const char *path, mode_t mode) {
    return mkdirat(AT_FDCWD, path, mode);
}
EXPORT int mknodat(int dirfd, const char *path, mode_t mode, dev_t dev) {
    return (int)call(SYS_mknodat, dirfd, (long)path, mode, (long)dev, 0);
}
EXPORT int mknod(const char *path, mode_t mode, dev_t dev) {
    return mknodat(AT_FDCWD, path, mode, dev);
}
EXPORT int unlinkat(int dirfd, const char *path, int flags) {
    return (int)call(SYS_unlinkat, dirfd, (long)path, flags, 0, 0);
}
EXPORT int unlink(const char *path) {
    return unlinkat(AT_FDCWD, path, 0);
}
EXPORT int rmdir(const char *path) {
    return unlinkat(AT_FDCWD, path, AT_REMOVEDIR);
}
EXPORT int remove(const char *path) {
    const int done = unlinkat(AT_FDCWD, path, 0);
    return done == 0 || errno != EISDIR ? done : unlinkat(AT_FDCWD, path, AT_REMOVEDIR);
}
EXPORT int renameat2(int olddirfd, const char *oldpath, int newdirfd, const char *newpath,
                     unsigned int flags) {
    return (int)call(SYS_renameat2, olddirfd, (long)oldpath, newdirfd, (long)newpath, flags);
}
EXPORT int renameat(int olddirfd, const char *oldpath, int newdirfd, const char *newpath) {
    return renameat2(olddirfd, oldpath, newdirfd, newpath, 0);
}
EXPORT int rename(const char *oldpath, const char *newpath) {
    return renameat2(AT_FDCWD, oldpath, AT_FDCWD, newpath, 0);
}
EXPORT int linkat(int olddirfd, const char *oldpath, int newdirfd, const char *newpath, int flags) {
    return (int)call(SYS_linkat, olddirfd, (long)oldpath, newdirfd, (long)newpath, flags);
}
EXPORT int link(const char *oldpath, const char *newpath) {
    return linkat(AT_FDCWD, oldpath, AT_FDCWD, newpath, 0);
}
EXPORT int symlinkat(const char *target, int newdirfd, const char *linkpath) {
    return (int)call(SYS_symlinkat, (long)target, newdirfd, (long)linkpath, 0, 0);
}
EXPORT int symlink(const char *target, const char *linkpath) {
    return symlinkat(target, AT_FDCWD, linkpath);
}
EXPORT int truncate(const char *path, off_t length) {
    return (int)call(SYS_truncate, (long)path, (long)length, 0, 0, 0);
}
EXPORT int truncate64(const char *path, off_t length) {
    return truncate(path, length);
}
