// The record layout passes, run in this order on a freshly parsed list:
// ExpandArrays, LinkSiblings, LinkGroups, ComputeByteLengths, ComputeDimensions,
// NumberAllElements, NumberItems, ComputeGroupLengths, ComputeRecordLength and
// ComputePositions.
//
// Every pass costs time in proportion to the expanded list: the array expansion links
// its copies in place and keeps `tail` in step, the sibling pass keeps a small stack
// of open levels instead of walking ahead from every item, and a REDEFINES inside a
// repeated group finds its target through a name table instead of a backward search.
// Recursion only follows rising level numbers, so it is never deeper than the number
// of levels (at most 49).
//
// Sizes are added in 64 bits; a group length, position or record length that would
// pass the largest signed 32-bit value is refused with "レコード長が大きすぎます。".
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine_internal.h"

namespace {

// The longest list an analysis may build. An array expansion that would pass it is
// refused like a failed allocation, before the memory is actually used up.
constexpr std::int64_t kMaxListItems = MAX_LIST_ITEMS;

[[noreturn]] void RaiseTooLong() {
    RAISE(CException, "レコード長が大きすぎます。");
}

int CheckedSize(std::int64_t size) {
    if (size > INT_MAX) RaiseTooLong();
    return static_cast<int>(size);
}

// The name in the form in which CompareNoCase compares it: A to Z folded to a to z.
std::string FoldedName(const char* name) {
    std::string key(name);
    for (char& c : key) c = FoldByte(c);
    return key;
}

// The fields that an occurrence copy repeats from the item it copies.
void CopyOccurrence(CopyItem* copy, const CopyItem* from, bool withOccursCount) {
    copy->level = from->level;
    copy->dimension = from->dimension;
    copy->digits = from->digits;
    copy->scale = from->scale;
    copy->occursCount = withOccursCount ? from->occursCount : 0;
    copy->flags = from->flags;
    std::memcpy(copy->name, from->name, sizeof copy->name);
    std::memcpy(copy->remark, from->remark, sizeof copy->remark);
    std::memcpy(copy->picture, from->picture, sizeof copy->picture);
}

}  // namespace

void CopyAnalyzer::ExpandArrays(CopyItem* first) {
    if (!first) return;

    // Mark where the list as written ends, and count it for the size limit.
    std::int64_t count = 1;
    for (CopyItem* item = first->prev; item; item = item->prev) ++count;
    CopyItem* last = first;
    while (last->next) {
        last = last->next;
        ++count;
    }
    last->flags |= ITEM_LIST_END;
    tail = last;

    // Links `item` in right after `after`, keeping the list end in step.
    auto linkAfter = [this](CopyItem* after, CopyItem* item) {
        item->prev = after;
        item->next = after->next;
        if (after->next) after->next->prev = item;
        else tail = item;
        after->next = item;
    };
    auto reserve = [&count](std::int64_t copies) {
        if (count + copies > kMaxListItems) RAISE(CItemLimitException, "メモリの確保に失敗しました。");
        count += copies;
    };

    try {
        // Backwards, so that an inner array is expanded before the array holding it, and
        // the copies (always linked in behind the item being expanded) are never met.
        for (CopyItem* x = last; x;) {
            CopyItem* const before = (x == first) ? nullptr : x->prev;
            const std::int64_t n = x->occursCount;
            if (n >= 2 && !(x->flags & ITEM_GROUP)) {
                reserve(n - 1);
                CopyItem* end = x;
                for (std::int64_t k = 1; k < n; ++k) {
                    CopyItem* copy = NewItem();
                    CopyOccurrence(copy, x, false);
                    linkAfter(end, copy);
                    end = copy;
                }
            } else if (n >= 2) {
                // The block: the group and its subordinates as they stand now.
                CopyItem* blockEnd = x;
                std::int64_t blockSize = 1;
                bool redefinesInside = x->redefines != nullptr;
                while (blockEnd->next && blockEnd->next->level > x->level) {
                    blockEnd = blockEnd->next;
                    ++blockSize;
                    if (blockEnd->redefines) redefinesInside = true;
                }
                reserve((n - 1) * blockSize);

                // For a REDEFINES inside the block, the copy's target is the nearest item
                // of the target's name between the copied item and the copy: the latest
                // copy of that name made so far, else the last item of that name that
                // follows the copied item within the block.
                std::vector<CopyItem*> block;
                std::unordered_map<std::string, std::size_t> lastInBlock;
                std::unordered_map<std::string, CopyItem*> lastCopy;
                if (redefinesInside) {
                    block.reserve(static_cast<std::size_t>(blockSize));
                    for (CopyItem* s = x;; s = s->next) {
                        lastInBlock[FoldedName(s->name)] = block.size();
                        block.push_back(s);
                        if (s == blockEnd) break;
                    }
                }

                CopyItem* end = blockEnd;
                for (std::int64_t k = 1; k < n; ++k) {
                    std::size_t index = 0;
                    for (CopyItem* s = x;; s = s->next, ++index) {
                        CopyItem* copy = NewItem();
                        CopyOccurrence(copy, s, true);
                        linkAfter(end, copy);
                        end = copy;
                        if (redefinesInside) {
                            if (s->redefines) {
                                const std::string key = FoldedName(s->redefines->name);
                                auto found = lastCopy.find(key);
                                if (found != lastCopy.end()) {
                                    copy->redefines = found->second;
                                } else {
                                    auto inBlock = lastInBlock.find(key);
                                    if (inBlock == lastInBlock.end() || inBlock->second <= index)
                                        RAISE(CException, "REDEFINES項目がおかしい・・・？");
                                    copy->redefines = block[inBlock->second];
                                }
                            }
                            lastCopy[FoldedName(copy->name)] = copy;
                        }
                        if (s == blockEnd) break;
                    }
                }
            }
            x = before;
        }
    } catch (const std::bad_alloc&) {
        RAISE(CMemoryException, "メモリの確保に失敗しました。");
    }
}

CopyItem* CopyAnalyzer::LinkSiblings(CopyItem* item) {
    if (!item) return nullptr;
    // `open` holds, by rising level, the latest item of each level that can still get a
    // next sibling: an item of a smaller level closes every open item above it.
    std::vector<CopyItem*> open;
    try {
        open.reserve(50);
        open.push_back(item);
        CopyItem* y = item->next;
        for (; y && y->level >= item->level; y = y->next) {
            while (open.back()->level > y->level) open.pop_back();
            CopyItem* end = open.back();
            if (end->level == y->level) {
                end->nextSibling = y;
                y->prevSibling = end;
                open.back() = y;
            } else {
                open.push_back(y);
            }
        }
        return y;
    } catch (const std::bad_alloc&) {
        RAISE(CMemoryException, "メモリの確保に失敗しました。");
    }
}

CopyItem* CopyAnalyzer::LinkGroups(CopyItem* item) {
    if (!item) return nullptr;
    CopyItem* current = item;
    CopyItem* y = item->next;
    while (y) {
        if (y->level > current->level) {
            y->parent = current;
            current->firstChild = y;
            InheritDialectUsage(y, current);
            y = LinkGroups(y);
        } else if (y->level == current->level) {
            y->parent = current->parent;
            if (y->parent) InheritDialectUsage(y, y->parent);
            current = y;
            y = y->next;
        } else {
            return y;
        }
    }
    return nullptr;
}

void CopyAnalyzer::ComputeByteLengths(CopyItem* first) {
    for (CopyItem* item = first; item; item = item->next)
        item->byteLength = CheckedSize(DialectByteLength(item));
}

CopyItem* CopyAnalyzer::ComputeDimensions(CopyItem* item, int depth) {
    for (CopyItem* i = item; i; i = i->nextSibling) {
        i->dimension = (i->dimension == -1) ? depth + 1 : depth;
        if (i->dimension != 0) i->flags |= ITEM_ARRAY;
        if (i->firstChild) ComputeDimensions(i->firstChild, i->dimension);
    }
    return item;
}

CopyItem* CopyAnalyzer::NumberElements(CopyItem* item) {
    if (!item) return nullptr;
    const int n = item->occursCount;
    CopyItem* p = item;
    for (int k = 1; k <= n; ++k) {
        // Nothing more of this array to number: the remaining occurrences are empty.
        if (!p || !(p->flags & ITEM_ARRAY)) break;
        while (p && (p->flags & ITEM_ARRAY)) {
            p->elementNo = k;
            if (p->dimension != item->dimension) {
                // A nested array, numbered by its own count. An item without a count of
                // its own is passed over rather than met again and again.
                CopyItem* after = NumberElements(p);
                p = (after == p) ? p->next : after;
            } else {
                p = p->next;
            }
            if (p && p->level <= item->level) break;
        }
    }
    return p;
}

void CopyAnalyzer::NumberAllElements() {
    for (CopyItem* item = head; item;) {
        if (item->occursCount != 0) {
            CopyItem* after = NumberElements(item);
            item = (after == item) ? item->next : after;
        } else {
            item = item->next;
        }
    }
}

void CopyAnalyzer::NumberItems() {
    itemCount = 0;
    for (CopyItem* item = head; item; item = item->next)
        item->serialNo = static_cast<int>(++itemCount);
}

int CopyAnalyzer::ComputeGroupLengths(CopyItem* item) {
    std::int64_t sum = 0;
    for (CopyItem* i = item; i; i = i->nextSibling) {
        if (i->firstChild) i->byteLength = ComputeGroupLengths(i->firstChild);
        if (!(i->flags & ITEM_REDEFINES)) sum = CheckedSize(sum + i->byteLength);
    }
    return static_cast<int>(sum);
}

void CopyAnalyzer::ComputeRecordLength() {
    recordLength = 0;
    std::int64_t sum = 0;
    for (CopyItem* item = head; item;) {
        if (item->flags & ITEM_REDEFINES) {
            // A redefining item and everything subordinate to it share storage already
            // counted for the item it redefines.
            item = ItemAfterSubtree(item);
            continue;
        }
        if (!(item->flags & ITEM_GROUP)) sum = CheckedSize(sum + item->byteLength);
        item = item->next;
    }
    recordLength = static_cast<unsigned>(sum);
}

CopyItem* CopyAnalyzer::ComputePositions(CopyItem* item, int position) {
    // Called for the first item of the list it lays out the whole list; called for a
    // redefining group, that group and its subordinates. Returns the item after them.
    if (!item) return nullptr;
    const bool wholeList = item->prev == nullptr;
    // Places `y` at `at`; the last byte of its storage must stay in range too.
    auto place = [](CopyItem* y, std::int64_t at) {
        if (at + (y->byteLength > 0 ? y->byteLength - 1 : 0) > INT_MAX) RaiseTooLong();
        y->position = static_cast<int>(at);
    };
    std::int64_t p = position;
    place(item, p);
    if (!(item->flags & ITEM_GROUP)) p += item->byteLength;

    CopyItem* y = item->next;
    while (y && (wholeList || y->level > item->level)) {
        if (y->redefines && (y->flags & ITEM_GROUP)) {
            y = ComputePositions(y, y->redefines->position);
        } else if (y->redefines) {
            place(y, y->redefines->position);
            y = y->next;
        } else if ((y->flags & ITEM_REDEFINES) && !(y->flags & ITEM_GROUP) && y->prev) {
            // A further occurrence of an elementary item that both redefines and repeats:
            // right behind the occurrence before it, inside the redefined storage, so the
            // running position does not move.
            place(y, static_cast<std::int64_t>(y->prev->position) + y->prev->byteLength);
            y = y->next;
        } else {
            place(y, p);
            if (!(y->flags & ITEM_GROUP)) p += y->byteLength;
            y = y->next;
        }
    }
    return y;
}
