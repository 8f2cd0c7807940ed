// Preloaded into every 32-bit Wine process that qemu-i386 runs on a machine
// without 32-bit support (scripts/emulation/i386.sh builds it and names it in
// QEMU_SET_ENV, so only the emulated processes see it).
//
// qemu-user 7.2 does not know MAP_FIXED_NOREPLACE: it takes the address as a
// hint and maps somewhere else when the range is taken. At start-up Wine
// reserves the 32-bit address space with such requests; a request that lands
// elsewhere above 2 GB is kept there, so the upper half fills with stray
// pieces, and Wine then tries that half again 64 KiB at a time: about 65,000
// mmap/munmap pairs, a minute of CPU in every Wine process. Here a
// NOREPLACE request that did not land where asked fails with EEXIST, as the
// kernel fails it, and Wine's reservation takes a few hundred calls.
//
// Built freestanding (the machine has no 32-bit C headers): the declarations
// below are glibc's i386 ABI.

typedef __SIZE_TYPE__ size_t;
typedef long long off64_t;

#define MAP_FAILED ((void*)-1)
#define MAP_FIXED_NOREPLACE 0x100000
#define EEXIST 17
#define RTLD_NEXT ((void*)-1l)

extern void* dlsym(void* handle, const char* symbol);
extern int munmap(void* addr, size_t length);
extern int* __errno_location(void);

static void* landed_where_asked(void* addr, size_t length, int flags, void* got) {
    if (got != MAP_FAILED && (flags & MAP_FIXED_NOREPLACE) && got != addr) {
        munmap(got, length);
        *__errno_location() = EEXIST;
        return MAP_FAILED;
    }
    return got;
}

void* mmap(void* addr, size_t length, int prot, int flags, int fd, long offset) {
    static void* (*next)(void*, size_t, int, int, int, long);
    if (!next) next = (void* (*)(void*, size_t, int, int, int, long))dlsym(RTLD_NEXT, "mmap");
    return landed_where_asked(addr, length, flags, next(addr, length, prot, flags, fd, offset));
}

void* mmap64(void* addr, size_t length, int prot, int flags, int fd, off64_t offset) {
    static void* (*next)(void*, size_t, int, int, int, off64_t);
    if (!next) next = (void* (*)(void*, size_t, int, int, int, off64_t))dlsym(RTLD_NEXT, "mmap64");
    return landed_where_asked(addr, length, flags, next(addr, length, prot, flags, fd, offset));
}
