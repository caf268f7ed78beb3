// The arena allocator of huge pages (memory.h).
#include "memory.h"

#include <Python.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include <dlfcn.h>

namespace quillbox {
namespace python {

namespace {

// Everything of the allocator, under `lock`.
struct Arenas {
    std::mutex lock;
    bool installed = false;
    int scopes = 0;                     // ArenaScopes open
    PyObjectArenaAllocator previous{};  // the interpreter's own
    char* next = nullptr;               // the rest of the region being carved
    size_t left = 0;
    std::unordered_set<void*> carved;   // the arenas handed out from regions, not yet freed
};

// Made on first use and never destroyed: the interpreter may free arenas after this
// library's static objects are gone.
Arenas& State() {
    static Arenas* arenas = new Arenas();
    return *arenas;
}

constexpr size_t kRegion = size_t{32} << 20;

void DropRest(Arenas& a) {
    if (a.left > 0) munmap(a.next, a.left);
    a.next = nullptr;
    a.left = 0;
}

void* Allocate(void*, size_t size) {
    Arenas& a = State();
    std::lock_guard<std::mutex> hold(a.lock);
    if (a.scopes == 0) return a.previous.alloc(a.previous.ctx, size);
    if (a.left < size) {
        DropRest(a);
        size_t region = std::max(kRegion, (size + Pages::kHuge - 1) / Pages::kHuge * Pages::kHuge);
        void* block = Pages::Allocate(region);
        if (block == nullptr) return a.previous.alloc(a.previous.ctx, size);
        a.next = static_cast<char*>(block);
        a.left = region;
    }
    void* arena = a.next;
    a.next += size;
    a.left -= size;
    try {
        a.carved.insert(arena);
    } catch (...) {
        munmap(arena, size);
        return nullptr;
    }
    return arena;
}

void Free(void*, void* arena, size_t size) {
    Arenas& a = State();
    std::lock_guard<std::mutex> hold(a.lock);
    if (a.carved.erase(arena) != 0) {
        munmap(arena, size);
        return;
    }
    a.previous.free(a.previous.ctx, arena, size);
}

// The regions that blocks of 256 KB to 2 MB are carved from (Pages::Carve): each block
// is preceded by a header naming its region; a region counts its blocks not yet freed.
struct Region {
    char* base;
    size_t used;
    size_t live;
};

struct Regions {
    std::mutex lock;
    Region* current = nullptr;   // the region being carved
};

Regions& CarvedState() {
    static Regions* regions = new Regions();
    return *regions;
}

constexpr size_t kCarveRegion = size_t{32} << 20;
constexpr size_t kHeader = 64;   // keeps blocks 64-byte aligned

}  // namespace

void* Pages::Carve(size_t bytes) {
    const size_t need = kHeader + (bytes + kHeader - 1) / kHeader * kHeader;
    Regions& r = CarvedState();
    std::lock_guard<std::mutex> hold(r.lock);
    if (r.current == nullptr || kCarveRegion - r.current->used < need) {
        void* base = Map(kCarveRegion);
        if (base == nullptr) return nullptr;
        Region* region = new (std::nothrow) Region{static_cast<char*>(base), 0, 0};
        if (region == nullptr) {
            munmap(base, kCarveRegion);
            return nullptr;
        }
        Region* old = r.current;
        r.current = region;
        // The region left behind goes when its last block does (or now, with none left).
        if (old != nullptr && old->live == 0) {
            munmap(old->base, kCarveRegion);
            delete old;
        }
    }
    Region* region = r.current;
    char* header = region->base + region->used;
    region->used += need;
    ++region->live;
    *reinterpret_cast<Region**>(header) = region;
    return header + kHeader;
}

void Pages::Release(void* block) {
    Region* region = *reinterpret_cast<Region**>(static_cast<char*>(block) - kHeader);
    Regions& r = CarvedState();
    std::lock_guard<std::mutex> hold(r.lock);
    if (--region->live > 0) return;
    if (region == r.current) {
        // Filled again from its start: its pages are in place already.
        region->used = 0;
        return;
    }
    munmap(region->base, kCarveRegion);
    delete region;
}

void InstallArenas() {
    Arenas& a = State();
    std::lock_guard<std::mutex> hold(a.lock);
    if (a.installed) return;
    const char* setting = std::getenv("QUILLBOX_HUGE_ARENAS");
    if (setting != nullptr && std::strcmp(setting, "0") == 0) return;
    PyObjectArenaAllocator current;
    PyObject_GetArenaAllocator(&current);
    // Only in place of the interpreter's own allocator: one that an embedding program
    // set is left alone.
    Dl_info own, theirs;
    if (current.ctx != nullptr || dladdr(reinterpret_cast<void*>(&PyObject_Malloc), &own) == 0 ||
        dladdr(reinterpret_cast<void*>(current.alloc), &theirs) == 0 || own.dli_fbase != theirs.dli_fbase) {
        return;
    }
    a.previous = current;
    PyObjectArenaAllocator huge{nullptr, &Allocate, &Free};
    PyObject_SetArenaAllocator(&huge);
    a.installed = true;
}

bool ArenasInstalled() {
    Arenas& a = State();
    std::lock_guard<std::mutex> hold(a.lock);
    return a.installed;
}

ArenaScope::ArenaScope() {
    Arenas& a = State();
    std::lock_guard<std::mutex> hold(a.lock);
    if (a.installed) ++a.scopes;
}

ArenaScope::~ArenaScope() {
    Arenas& a = State();
    std::lock_guard<std::mutex> hold(a.lock);
    if (!a.installed) return;
    if (--a.scopes == 0) DropRest(a);
}

}  // namespace python
}  // namespace quillbox
