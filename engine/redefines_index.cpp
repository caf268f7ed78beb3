// The REDEFINES lookup of the entry parser: the nearest earlier item of a name.
//
// The rule is a backward walk from the item's predecessor along `prev`, taking the
// first item whose name equals the target under CompareNoCase. Walking costs the
// distance to the target, so a copybook of many entries that all redefine one early
// item takes quadratic time. The index gives the same item in constant time: a hash
// table from the name (compared as CompareNoCase compares) to the latest item of that
// name, brought up to date from where it stopped each time a lookup is made.
//
// Keeping in step: the index covers the list from its start up to `last`. A lookup
// for an item walks back from the item's predecessor to `last` and adds what lies
// between, oldest first, so a later item of a name replaces an earlier one. When the
// walk back does not meet `last` (the list was rebuilt, or items before it were
// taken out), the index is built again from the whole chain before the item. The
// parser only ever takes out the item of the current line, which is never covered,
// and FreeItems and every new parse start from an empty index.
#include <cstdint>
#include <new>
#include <vector>

#include "engine_internal.h"

// An open-addressing table of the latest item of each name. A slot keeps the hash
// of the folded name and the item, whose own `name` is the key: no text is copied.
struct RedefinesIndex {
    struct Slot {
        std::uint64_t hash;
        CopyItem* item;   // null: an empty slot
    };
    std::vector<Slot> slots;        // a power of two in size, at most half full
    std::size_t used = 0;
    const CopyItem* last = nullptr;   // latest item covered

    static RedefinesIndex*& Of(CopyAnalyzer& analyzer) { return analyzer.redefinesIndex; }
};

namespace {

// FNV-1a over the name as CompareNoCase sees it (A to Z folded to a to z).
std::uint64_t FoldedHash(const char* name) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p != 0; ++p) {
        hash = (hash ^ static_cast<unsigned char>(FoldByte(static_cast<char>(*p)))) * 1099511628211ull;
    }
    return hash;
}

// The slot of `name`: the one holding an item of that name, or the empty one where it
// would go.
RedefinesIndex::Slot& SlotOf(RedefinesIndex& index, const char* name, std::uint64_t hash) {
    const std::size_t mask = index.slots.size() - 1;
    for (std::size_t at = static_cast<std::size_t>(hash) & mask;; at = (at + 1) & mask) {
        RedefinesIndex::Slot& slot = index.slots[at];
        if (slot.item == nullptr) return slot;
        if (slot.hash == hash && CompareNoCase(slot.item->name, name) == 0) return slot;
    }
}

void Clear(RedefinesIndex& index) {
    index.slots.assign(1024, RedefinesIndex::Slot{0, nullptr});
    index.used = 0;
    index.last = nullptr;
}

// Makes `item` the latest of its name.
void Cover(RedefinesIndex& index, CopyItem* item) {
    if ((index.used + 1) * 2 > index.slots.size()) {
        std::vector<RedefinesIndex::Slot> old(index.slots.size() * 2, RedefinesIndex::Slot{0, nullptr});
        old.swap(index.slots);
        for (const RedefinesIndex::Slot& slot : old) {
            if (slot.item != nullptr) SlotOf(index, slot.item->name, slot.hash) = slot;
        }
    }
    const std::uint64_t hash = FoldedHash(item->name);
    RedefinesIndex::Slot& slot = SlotOf(index, item->name, hash);
    if (slot.item == nullptr) ++index.used;
    slot = {hash, item};
    index.last = item;
}

}  // namespace

CopyItem* FindRedefinesTarget(CopyAnalyzer& analyzer, CopyItem* item, const char* target) {
    RedefinesIndex*& index = RedefinesIndex::Of(analyzer);
    try {
        if (index == nullptr) {
            index = new RedefinesIndex;
            Clear(*index);
        }
        std::vector<CopyItem*> uncovered;
        CopyItem* walk = item->prev;
        while (walk != nullptr && walk != index->last) {
            uncovered.push_back(walk);
            walk = walk->prev;
        }
        // `last` not before the item: the list was rebuilt, the whole chain is new.
        if (walk == nullptr && index->last != nullptr) Clear(*index);
        for (auto it = uncovered.rbegin(); it != uncovered.rend(); ++it) Cover(*index, *it);
        return SlotOf(*index, target, FoldedHash(target)).item;
    } catch (const std::bad_alloc&) {
        RAISE(CMemoryException, "メモリの確保に失敗しました。");
    }
}

void ReleaseRedefinesIndex(RedefinesIndex*& index) {
    delete index;
    index = nullptr;
}
