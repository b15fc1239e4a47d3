// A file's bytes mapped for reading, for as long as a document serves
// samples from it. The file stays open: replaced on disk (renamed over,
// exported onto its own path), the mapping keeps the file the document
// opened. Truncated underneath, its pages past the new end read as zeros
// instead of ending the process with SIGBUS: a process-wide handler maps a
// page of zeros over the rest of the mapping and notes the damage.
//
// Any thread may read the bytes; a mapping lives until its last holder lets
// it go.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>

namespace ZQ {

class MappedFile {
public:
    // Maps bytes [offset, offset + length) of the file at `path`; null, with
    // why in `error` (errno's text), when it cannot.
    static std::shared_ptr<MappedFile> open(const std::string& path, std::uint64_t offset, std::uint64_t length,
                                            std::string* error = nullptr);
    // Maps the first `length` bytes of an open file and takes the descriptor.
    static std::shared_ptr<MappedFile> adopt(int fd, std::uint64_t length, std::string* error = nullptr);

    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile();

    // Byte `offset` as asked at open is bytes()[0].
    const unsigned char* bytes() const { return bytes_; }
    std::uint64_t length() const { return length_; }

    // Whether the file changed since it was mapped: shorter, rewritten (its
    // size or modification time), or a read fell past its end. Any thread;
    // costs one fstat.
    bool changedOnDisk() const;
    // Whether a read fell past the end of the file (and read zeros).
    bool lostPages() const { return lost_.load(std::memory_order_acquire); }

    // Pre-loads bytes [from, from + n) of the mapping (a hint).
    void willNeed(std::uint64_t from, std::uint64_t n) const;
    // Lets go of the pages of bytes [from, from + n) that the process has
    // touched: the page cache keeps them, the next read maps them again.
    void dontNeed(std::uint64_t from, std::uint64_t n) const;

    // The handler's side; public for it only.
    void markLost() { lost_.store(true, std::memory_order_release); }

private:
    MappedFile() = default;
    bool map(int fd, std::uint64_t offset, std::uint64_t length, std::string* error);

    int fd_ = -1;
    void* mapping_ = nullptr; // page-aligned start
    std::uint64_t mappedBytes_ = 0;
    const unsigned char* bytes_ = nullptr;
    std::uint64_t length_ = 0;
    int slot_ = -1;
    // What the file was when mapped.
    off_t size_ = 0;
    std::int64_t modifiedSeconds_ = 0, modifiedNanoseconds_ = 0;
    std::atomic<bool> lost_{false};
};

} // namespace ZQ
