// SPDX-License-Identifier: GPL-3.0-or-later
// Preloaded by scripts/as-linux-6.1: Landlock as Linux 6.1 offers it (ABI 2)
// to every program that reaches the kernel through libc's syscall(), as Pellim
// does. The script's docstring says why a library and what stays the newer
// kernel's.
#include <dlfcn.h>
#include <linux/landlock.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace {

using Syscall = long (*)(long, ...);

constexpr long kAbi = 2;
// Execute .. make_sym (ABI 1) and refer (ABI 2); 6.1's attribute holds only these.
constexpr unsigned long long kAbiRights = (LANDLOCK_ACCESS_FS_REFER << 1) - 1;
constexpr unsigned long kAttrSize = sizeof(unsigned long long);

long failed(int error) {
    errno = error;
    return -1;
}

// As 6.1's landlock_create_ruleset checks its arguments. A ruleset that asks for
// more than ABI 2 fails the way it would there; one that fits is made by the
// running kernel with 6.1's attribute size.
long createRuleset(Syscall kernel, const void *attr, unsigned long size, unsigned long flags) {
    if (flags == LANDLOCK_CREATE_RULESET_VERSION) {
        if (attr || size)
            return failed(EINVAL);
        // Asked with no attribute, the kernel says EFAULT when Landlock is there,
        // and its own error (ENOSYS, EOPNOTSUPP) when it is not, or when another
        // filter says it is not (scripts/without-landlock).
        const long probe = kernel(SYS_landlock_create_ruleset, nullptr, 0UL, 0UL);
        return probe < 0 && errno != EFAULT ? -1 : kAbi;
    }
    if (flags)
        return failed(EINVAL);
    if (!attr)
        return failed(EFAULT);
    if (size < kAttrSize)
        return failed(EINVAL);
    if (size > 4096)
        return failed(E2BIG);
    const auto *bytes = static_cast<const unsigned char *>(attr);
    for (unsigned long i = kAttrSize; i < size; ++i) {
        if (bytes[i]) // a field 6.1 does not know, set
            return failed(E2BIG);
    }
    unsigned long long handled = 0;
    std::memcpy(&handled, attr, sizeof handled);
    if (handled & ~kAbiRights)
        return failed(EINVAL);
    return kernel(SYS_landlock_create_ruleset, attr, kAttrSize, 0UL);
}

} // namespace

extern "C" long syscall(long number, ...) noexcept {
    static const auto kernel = reinterpret_cast<Syscall>(::dlsym(RTLD_NEXT, "syscall"));
    long a[6];
    va_list args;
    va_start(args, number);
    for (long &arg : a)
        arg = va_arg(args, long);
    va_end(args);
    if (number == SYS_landlock_create_ruleset)
        return createRuleset(kernel, reinterpret_cast<const void *>(a[0]),
                             static_cast<unsigned long>(a[1]), static_cast<unsigned long>(a[2]));
    return kernel(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}
