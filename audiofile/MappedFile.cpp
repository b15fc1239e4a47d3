#include "audiofile/MappedFile.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ZQ {

namespace {

// The mappings the SIGBUS handler may mend. The handler reads only these
// atomics; slots are taken and given back under a lock elsewhere.
constexpr int kSlots = 4096;
struct Slot {
    std::atomic<std::uintptr_t> begin{0};
    std::atomic<std::uintptr_t> end{0};
    std::atomic<MappedFile*> owner{nullptr};
};
Slot gSlots[kSlots];
std::mutex gSlotsLock;
struct sigaction gPrevious {};
std::once_flag gInstalled;
std::uintptr_t gPageSize = 4096;

void onBusError(int signal, siginfo_t* info, void* context) {
    const auto address = reinterpret_cast<std::uintptr_t>(info ? info->si_addr : nullptr);
    for (Slot& s : gSlots) {
        const std::uintptr_t begin = s.begin.load(std::memory_order_acquire);
        const std::uintptr_t end = s.end.load(std::memory_order_acquire);
        if (begin == 0 || address < begin || address >= end) continue;
        // Past the file's new end: zeros from this page to the end of the
        // mapping (every later page is past the end too), then the read
        // runs again and finds them.
        const std::uintptr_t page = address & ~(gPageSize - 1);
        void* zeros = ::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (zeros == MAP_FAILED) break;
        if (MappedFile* owner = s.owner.load(std::memory_order_acquire)) owner->markLost();
        return;
    }
    // Not one of ours: whatever handled it before, else the default (which
    // ends the process once the faulting access runs again).
    if ((gPrevious.sa_flags & SA_SIGINFO) && gPrevious.sa_sigaction) {
        gPrevious.sa_sigaction(signal, info, context);
    } else if (gPrevious.sa_handler != SIG_DFL && gPrevious.sa_handler != SIG_IGN && gPrevious.sa_handler) {
        gPrevious.sa_handler(signal);
    } else {
        struct sigaction plain {};
        plain.sa_handler = SIG_DFL;
        sigemptyset(&plain.sa_mask);
        ::sigaction(SIGBUS, &plain, nullptr);
    }
}

void installHandler() {
    std::call_once(gInstalled, [] {
        const long page = ::sysconf(_SC_PAGESIZE);
        if (page > 0) gPageSize = static_cast<std::uintptr_t>(page);
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &gPrevious);
    });
}

std::string errorText(int error) {
    return std::strerror(error);
}

} // namespace

std::shared_ptr<MappedFile> MappedFile::open(const std::string& path, std::uint64_t offset, std::uint64_t length,
                                             std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = errorText(errno);
        return nullptr;
    }
    std::shared_ptr<MappedFile> file(new MappedFile);
    file->fd_ = fd;
    if (!file->map(fd, offset, length, error)) return nullptr;
    return file;
}

std::shared_ptr<MappedFile> MappedFile::adopt(int fd, std::uint64_t length, std::string* error) {
    std::shared_ptr<MappedFile> file(new MappedFile);
    file->fd_ = fd;
    if (!file->map(fd, 0, length, error)) return nullptr;
    return file;
}

bool MappedFile::map(int fd, std::uint64_t offset, std::uint64_t length, std::string* error) {
    installHandler();
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        if (error) *error = errorText(errno);
        return false;
    }
    size_ = st.st_size;
    modifiedSeconds_ = st.st_mtim.tv_sec;
    modifiedNanoseconds_ = st.st_mtim.tv_nsec;
    if (length == 0 || offset + length > std::uint64_t(st.st_size)) {
        if (error) *error = "the file is shorter than its header says";
        return false;
    }
    const std::uint64_t start = offset & ~std::uint64_t(gPageSize - 1);
    mappedBytes_ = offset + length - start;
    void* m = ::mmap(nullptr, mappedBytes_, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(start));
    if (m == MAP_FAILED) {
        if (error) *error = errorText(errno);
        mappedBytes_ = 0;
        return false;
    }
    mapping_ = m;
    // No read-ahead on a fault: a view reads a few samples here and there
    // across the whole file, and each would otherwise bring in megabytes.
    // Whoever reads a long stretch says so first (willNeed).
    ::madvise(m, mappedBytes_, MADV_RANDOM);
    bytes_ = static_cast<const unsigned char*>(m) + (offset - start);
    length_ = length;
    std::lock_guard<std::mutex> g(gSlotsLock);
    for (int i = 0; i < kSlots; ++i) {
        if (gSlots[i].begin.load(std::memory_order_relaxed) != 0) continue;
        const auto begin = reinterpret_cast<std::uintptr_t>(m);
        const std::uintptr_t end = (begin + mappedBytes_ + gPageSize - 1) & ~(gPageSize - 1);
        gSlots[i].owner.store(this, std::memory_order_relaxed);
        gSlots[i].end.store(end, std::memory_order_relaxed);
        gSlots[i].begin.store(begin, std::memory_order_release);
        slot_ = i;
        return true;
    }
    // Every slot taken (thousands of open files): refused rather than unguarded.
    ::munmap(m, mappedBytes_);
    mapping_ = nullptr;
    bytes_ = nullptr;
    if (error) *error = "too many files are open";
    return false;
}

MappedFile::~MappedFile() {
    if (slot_ >= 0) {
        std::lock_guard<std::mutex> g(gSlotsLock);
        gSlots[slot_].begin.store(0, std::memory_order_release);
        gSlots[slot_].end.store(0, std::memory_order_relaxed);
        gSlots[slot_].owner.store(nullptr, std::memory_order_relaxed);
    }
    if (mapping_) ::munmap(mapping_, mappedBytes_);
    if (fd_ >= 0) ::close(fd_);
}

bool MappedFile::changedOnDisk() const {
    if (lostPages()) return true;
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return false;
    return st.st_size != size_ || st.st_mtim.tv_sec != modifiedSeconds_ || st.st_mtim.tv_nsec != modifiedNanoseconds_;
}

void MappedFile::willNeed(std::uint64_t from, std::uint64_t n) const {
    if (!mapping_ || from >= length_) return;
    n = std::min<std::uint64_t>(n, length_ - from);
    const auto begin = reinterpret_cast<std::uintptr_t>(bytes_ + from) & ~(gPageSize - 1);
    const auto end = reinterpret_cast<std::uintptr_t>(bytes_ + from + n);
    ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_WILLNEED);
}

void MappedFile::dontNeed(std::uint64_t from, std::uint64_t n) const {
    if (!mapping_ || from >= length_) return;
    n = std::min<std::uint64_t>(n, length_ - from);
    // Whole pages inside the range only: a page shared with bytes outside it stays.
    const auto begin = (reinterpret_cast<std::uintptr_t>(bytes_ + from) + gPageSize - 1) & ~(gPageSize - 1);
    const auto end = reinterpret_cast<std::uintptr_t>(bytes_ + from + n) & ~(gPageSize - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

} // namespace ZQ
