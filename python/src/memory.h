// Memory for the column values of a read, and the interpreter's object arenas while a
// chunk's Python objects are made.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include <sys/mman.h>

namespace quillbox {
namespace python {

// Memory for column values. A column of a large read is written once, from start to
// end, and then handed to numpy as it is, so its memory is asked for as huge pages:
// filling them takes one page fault for 2 MB rather than one for each 4 KB (the faults,
// not the decoding, were most of a large read's time). Blocks of 2 MB and more are
// mapped on their own; blocks from 256 KB are carved one after another from shared
// regions of huge pages (a region goes back to the system when its last block is
// freed; the newest is kept and filled again), so that the columns of a chunk or a
// Dask partition, mostly of a few hundred KB to 2 MB, fault no more than a large
// read's. (malloc would map each such block afresh in a Dask worker, whose nanny sets
// MALLOC_TRIM_THRESHOLD_: 15,000 to 45,000 faults a partition.) Smaller blocks are
// malloc's.
class Pages {
public:
    static constexpr size_t kHuge = size_t{2} << 20;
    static constexpr size_t kCarved = size_t{256} << 10;

    static void* Allocate(size_t bytes) {
        if (bytes < kCarved) return std::malloc(bytes);
        if (bytes < kHuge) return Carve(bytes);
        return Map(bytes);
    }
    static void Free(void* block, size_t bytes) {
        if (block == nullptr) return;
        if (bytes < kCarved) std::free(block);
        else if (bytes < kHuge) Release(block);
        else munmap(block, (bytes + kHuge - 1) / kHuge * kHuge);
    }

    // `bytes` rounded up to whole huge pages, 2 MB-aligned and asked for as huge pages.
    static void* Map(size_t bytes) {
        // With room to start on a huge page.
        size_t length = (bytes + kHuge - 1) / kHuge * kHuge + kHuge;
        void* mapped = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) return nullptr;
        uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
        uintptr_t aligned = (start + kHuge - 1) / kHuge * kHuge;
        // The unaligned head and the tail past the block go back at once.
        if (aligned > start) munmap(mapped, aligned - start);
        size_t kept = (bytes + kHuge - 1) / kHuge * kHuge;
        uintptr_t end = start + length;
        if (aligned + kept < end) munmap(reinterpret_cast<void*>(aligned + kept), end - (aligned + kept));
#ifdef MADV_HUGEPAGE
        madvise(reinterpret_cast<void*>(aligned), kept, MADV_HUGEPAGE);
#endif
        return reinterpret_cast<void*>(aligned);
    }

private:
    // A block from the shared regions (memory.cpp), and its return.
    static void* Carve(size_t bytes);
    static void Release(void* block);
};

// A growable array of numbers (int64, double, text ends) in Pages memory.
template <typename T>
class Buffer {
public:
    Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    Buffer(Buffer&& other) noexcept { *this = std::move(other); }
    Buffer& operator=(Buffer&& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
        return *this;
    }
    ~Buffer() { Pages::Free(data_, capacity_ * sizeof(T)); }

    void reserve(size_t n) {
        if (n <= capacity_) return;
        T* data = static_cast<T*>(Pages::Allocate(n * sizeof(T)));
        if (data == nullptr) throw std::bad_alloc();
        if (size_ > 0) std::memcpy(data, data_, size_ * sizeof(T));
        Pages::Free(data_, capacity_ * sizeof(T));
        data_ = data;
        capacity_ = n;
    }
    void push_back(T value) {
        if (size_ == capacity_) reserve(capacity_ < 16 ? 16 : capacity_ * 2);
        data_[size_++] = value;
    }
    void pop_back() { --size_; }
    void clear() { size_ = 0; }
    bool empty() const { return size_ == 0; }
    size_t size() const { return size_; }
    T& back() { return data_[size_ - 1]; }
    T& operator[](size_t i) { return data_[i]; }
    T* data() { return data_; }

private:
    T* data_ = nullptr;
    size_t size_ = 0, capacity_ = 0;
};

// Texts one after another in Pages memory, grown by doubling; no byte is cleared
// before it is written.
class TextStore {
public:
    TextStore() = default;
    TextStore(const TextStore&) = delete;
    TextStore& operator=(const TextStore&) = delete;
    TextStore(TextStore&& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(capacity_, other.capacity_);
        std::swap(used_, other.used_);
    }
    ~TextStore() { Pages::Free(data_, capacity_); }
    // Room for `n` more bytes at the end.
    char* Room(size_t n) {
        if (capacity_ - used_ < n) Grow(n);
        return data_ + used_;
    }
    void Reserve(size_t n) {
        if (capacity_ - used_ < n) Grow(n);
    }
    void Append(const char* text, size_t n) {
        if (n > 0) std::memcpy(Room(n), text, n);
        used_ += n;
    }
    void SetEnd(const char* end) { used_ = static_cast<size_t>(end - data_); }
    void Resize(size_t n) { used_ = n; }
    size_t Size() const { return used_; }
    const char* Data() const { return data_; }

private:
    void Grow(size_t n) {
        size_t capacity = std::max(capacity_ * 2, used_ + n);
        char* data = static_cast<char*>(Pages::Allocate(capacity));
        if (data == nullptr) throw std::bad_alloc();
        if (used_ > 0) std::memcpy(data, data_, used_);
        Pages::Free(data_, capacity_);
        data_ = data;
        capacity_ = capacity;
    }
    char* data_ = nullptr;
    size_t capacity_ = 0, used_ = 0;
};

// The interpreter's small-object arenas taken from huge pages while a chunk's Python
// objects are made (millions of strs and Decimals): with 4 KB pages every 4 KB of new
// objects costs a page fault. The allocator is installed once for the process at import
// (InstallArenas) in place of the interpreter's own, which maps and unmaps each arena;
// it hands out arenas carved from 2 MB-aligned mappings only while an ArenaScope is
// open in some thread, and the interpreter's own otherwise. Its state is guarded by a
// lock of its own (from Python 3.12 the arena allocator is the runtime's, not one
// interpreter's). QUILLBOX_HUGE_ARENAS=0 in the environment leaves the interpreter's
// allocator alone.
void InstallArenas();
// Whether InstallArenas put the allocator in place.
bool ArenasInstalled();

class ArenaScope {
public:
    ArenaScope();
    ~ArenaScope();
    ArenaScope(const ArenaScope&) = delete;
    ArenaScope& operator=(const ArenaScope&) = delete;
};

}  // namespace python
}  // namespace quillbox
