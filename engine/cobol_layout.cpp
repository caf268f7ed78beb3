// Layout of the COBOL-rules analysis. The items as written are arranged into records
// and trees by their level numbers, laid out (sizes, offsets from the start of their
// record, SYNC slack bytes, larger REDEFINES, OCCURS at their maximum), and then every
// further occurrence of a table is copied into the list with its own position, in the
// order a program would list them.
//
// The rules are those of GnuCOBOL 3.1.2 under -std=ibm -fbinary-size=2-4-8:
// - a subordinate belongs to the nearest earlier item of a smaller level, so an
//   irregular level number joins the group it falls into;
// - a REDEFINES larger than its target enlarges the storage and moves what follows;
// - a SYNC item of a binary, floating, index or pointer usage starts at a multiple of
//   its own size counted from the start of the record (SYNC on a group is ignored);
// - an occurrence of a table holding SYNC items is padded to a multiple of the
//   alignment GnuCOBOL carries through its items (the last subgroup's, raised by the
//   SYNC items after it), and the padding goes in front of its last elementary item;
//   only the first occurrence is aligned, the others repeat it at the table's stride.
// Where IBM's rule holds instead: COMP-5 of 1 to 4 digits is 2 bytes, pointers 4 bytes
// unless the options say 8.
#include <algorithm>
#include <climits>
#include <cstring>
#include <unordered_set>

#include "cobol_internal.h"

namespace {

constexpr long long kMaxListItems = MAX_LIST_ITEMS;
constexpr long long kMaxSize = INT_MAX;

// The usages of a fixed size that take no PICTURE.
struct FixedUsage {
    CobolUsage usage;
    const char* word;
    int size;    // bytes (a pointer's come from the options)
    int digits;  // shown digits, 0 for none
    bool numeric;
};

const FixedUsage kFixedUsages[] = {
    {CobolUsage::Float, "COMP-1", 4, 0, true},
    {CobolUsage::Double, "COMP-2", 8, 0, true},
    {CobolUsage::Pointer, "POINTER", 4, 0, false},
    {CobolUsage::Index, "INDEX", 4, 0, false},
    {CobolUsage::BinaryChar, "BINARY-CHAR", 1, 3, true},
    {CobolUsage::BinaryShort, "BINARY-SHORT", 2, 5, true},
    {CobolUsage::BinaryLong, "BINARY-LONG", 4, 10, true},
    {CobolUsage::BinaryDouble, "BINARY-DOUBLE", 8, 18, true},
};

const FixedUsage* FindFixedUsage(CobolUsage usage) {
    for (const FixedUsage& f : kFixedUsages)
        if (f.usage == usage) return &f;
    return nullptr;
}

bool IsStorage(const CobolItemInfo* n) { return n->level != 88 && n->level != 66; }

bool SameName(const std::string& a, const char* b) { return CompareNoCase(a.c_str(), b) == 0; }

class Layout {
public:
    Layout(CobolWork& work, const CobolOptions& options, std::vector<CobolWarning>& warnings)
        : work_(work), options_(options), warnings_(warnings) {}

    void Run() {
        BuildTrees();
        for (CobolItemInfo& info : work_.infos) {
            if (info.variable && names_.empty())
                for (CobolItemInfo& other : work_.infos)
                    if (IsStorage(&other)) names_.insert(CobolUpper(other.item->name));
            Resolve(&info);
        }
        for (CobolRecord& record : work_.records) {
            int align = 1;
            record.size = LayoutChildren(record.top, 0, false, align);
            for (CobolItemInfo* r : record.renames) Renames(record, r);
            work_.recordLength = std::max(work_.recordLength, record.size);
        }
        CheckItemCount();
    }

private:
    // The list holds every occurrence of every item (88s once per occurrence of their
    // variable): counted before any is made, so that a table too large for it is refused
    // at its entry at once rather than after gigabytes of copies.
    void CheckItemCount() {
        long long total = 0;
        auto visit = [&](auto&& self, const CobolItemInfo* n, long long times) -> void {
            if (n->occursMax > 0) times = std::min(times * n->occursMax, kMaxListItems + 1);
            total += times;
            if (total > kMaxListItems)
                Fail(n, "配列を展開した項目数が上限の " + std::to_string(kMaxListItems) + " を超えます。");
            for (const CobolItemInfo* c : n->children) self(self, c, times);
        };
        for (const CobolRecord& record : work_.records) {
            for (const CobolItemInfo* t : record.top) visit(visit, t, 1);
            total += static_cast<long long>(record.renames.size());
        }
    }

    [[noreturn]] void Fail(const CobolItemInfo* n, const std::string& message) {
        const CobolEntry& e = work_.entries[n->entry];
        COBOL_RAISE(work_, e.file, e.line, CobolEntryText(e), message);
    }

    void BuildTrees() {
        std::vector<CobolItemInfo*> stack;
        CobolItemInfo* last = nullptr;  // the latest storage item
        for (CobolItemInfo& owned : work_.infos) {
            CobolItemInfo* n = &owned;
            const int level = n->item->level;
            if (level == 88) {
                if (last == nullptr) Fail(n, "レベル88の項目の前に条件変数がありません。");
                n->parent = last;
                last->children.push_back(n);
                continue;
            }
            if (level == 66) {
                if (work_.records.empty()) Fail(n, "レベル66の項目の前にレコードがありません。");
                n->record = static_cast<int>(work_.records.size()) - 1;
                work_.records.back().renames.push_back(n);
                continue;
            }
            if (level == 1 || level == 77) {
                stack.clear();
                work_.records.emplace_back();
                work_.records.back().top.push_back(n);
                n->record = static_cast<int>(work_.records.size()) - 1;
                stack.push_back(n);
                last = n;
                continue;
            }
            if (!stack.empty() && stack.back()->item->level == 77)
                Fail(n, "レベル77の項目の下に従属項目は置けません。");
            while (!stack.empty() && stack.back()->item->level >= level) stack.pop_back();
            if (stack.empty()) {
                // The top of a copybook written without its 01: one record of items in a row.
                if (work_.records.empty() || work_.records.back().top.front()->item->level == 1 ||
                    work_.records.back().top.front()->item->level == 77)
                    work_.records.emplace_back();
                work_.records.back().top.push_back(n);
            } else {
                n->parent = stack.back();
                stack.back()->children.push_back(n);
            }
            n->record = static_cast<int>(work_.records.size()) - 1;
            stack.push_back(n);
            last = n;
        }
    }

    // Group or elementary, the REDEFINES target, the DEPENDING ON object, the usage.
    void Resolve(CobolItemInfo* n) {
        if (!IsStorage(n)) return;
        CopyItem* item = n->item;
        for (CobolItemInfo* c : n->children)
            if (IsStorage(c)) n->group = true;
        if (n->group) {
            if (n->hasPicture) Fail(n, "従属項目のある集団項目に PICTURE 句は書けません。");
            item->flags |= ITEM_GROUP;
        }
        CobolUsage inherited = CobolUsage::None;
        for (CobolItemInfo* p = n->parent; p != nullptr && inherited == CobolUsage::None; p = p->parent) inherited = p->usage;
        n->effectiveUsage = n->usage != CobolUsage::None ? n->usage : (inherited != CobolUsage::None ? inherited : CobolUsage::Display);
        if (n->usage == CobolUsage::None && inherited != CobolUsage::None) {
            for (CobolItemInfo* p = n->parent; p != nullptr; p = p->parent)
                if (p->usage == inherited) {
                    InheritCobolUsage(item, p->item);
                    break;
                }
        }
        // A SIGN clause of a group reaches the signed numeric items below it that are
        // stored as characters; an item's own SIGN clause must be on such an item.
        const bool characters = n->effectiveUsage == CobolUsage::Display || n->effectiveUsage == CobolUsage::National;
        if (n->sign != 0 && !n->group && !characters)
            Fail(n, "SIGN 句は USAGE DISPLAY か NATIONAL の項目にだけ書けます。");
        if (n->sign == 0 && !n->group && characters && (item->flags & ITEM_SIGNED)) {
            for (CobolItemInfo* p = n->parent; p != nullptr; p = p->parent)
                if (p->sign != 0) {
                    n->sign = p->sign;
                    n->separate = p->separate;
                    break;
                }
        }
        if (!n->redefinesName.empty()) Redefines(n);
        if (n->variable) {
            if (names_.count(CobolUpper(n->dependingOn)) == 0) Fail(n, "DEPENDING ON の項目 " + n->dependingOn + " がありません。");
            item->flags |= ITEM_VARIABLE;
        }
        if (n->sync) item->flags |= ITEM_SYNC;
        if (n->sign != 0 && !n->group) {
            if (!(item->flags & ITEM_SIGNED)) Fail(n, "SIGN 句は S のある数字項目にだけ書けます。");
            item->flags |= n->sign == 1 ? SIGN_LEADING : 0;
            if (n->separate) item->flags |= SIGN_SEPARATE;
        }
    }

    // COBOL rule: REDEFINES names the immediately preceding entry of the same level
    // (or what that entry itself redefines).
    void Redefines(CobolItemInfo* n) {
        const std::vector<CobolItemInfo*>* siblings = nullptr;
        if (n->parent != nullptr) siblings = &n->parent->children;
        else siblings = &work_.records[n->record].top;
        CobolItemInfo* previous = nullptr;
        for (CobolItemInfo* s : *siblings) {
            if (s == n) break;
            if (IsStorage(s)) previous = s;
        }
        if (previous == nullptr && n->parent == nullptr && n->item->level == 1 && n->record > 0)
            previous = work_.records[n->record - 1].top.front();
        while (previous != nullptr && previous->target != nullptr && !SameName(n->redefinesName, previous->item->name))
            previous = previous->target;
        if (previous == nullptr || previous->item->level != n->item->level || !SameName(n->redefinesName, previous->item->name))
            Fail(n, "REDEFINES の対象 " + n->redefinesName + " は直前の同じレベルの項目ではありません。");
        n->target = previous;
        n->item->redefines = previous->item;
        n->item->flags |= ITEM_REDEFINES;
    }

    static long long BinarySize(int digits) {
        if (digits <= 4) return 2;
        if (digits <= 9) return 4;
        return 8;
    }

    // Storage of one occurrence of an elementary item, and its SYNC alignment.
    void Elementary(CobolItemInfo* n) {
        CopyItem* item = n->item;
        const CobolUsage usage = n->effectiveUsage;
        auto needPicture = [&]() {
            if (!n->hasPicture) Fail(n, "基本項目に PICTURE 句がありません。");
        };
        auto needNumeric = [&](const char* word) {
            needPicture();
            if (!n->numericPicture) Fail(n, std::string("USAGE ") + word + " は数字項目（9 S V P だけの PICTURE）にだけ使えます: " + item->picture);
        };
        auto noPicture = [&](const char* word) {
            if (n->hasPicture) Fail(n, std::string("USAGE ") + word + " の項目に PICTURE 句は書けません。");
        };
        long long size = 0;
        int align = 1;
        if (const FixedUsage* fixed = FindFixedUsage(usage)) {
            noPicture(fixed->word);
            size = usage == CobolUsage::Pointer ? (options_.pointerSize == 8 ? 8 : 4) : fixed->size;
            if (size == 2 || size == 4 || size == 8) align = static_cast<int>(size);
            if (fixed->digits > 0) item->digits = fixed->digits;
            if (fixed->numeric) item->flags |= ITEM_NUMERIC;
            n->size = size;
            n->align = n->sync ? align : 1;
            return;
        }
        switch (usage) {
        case CobolUsage::None:
        case CobolUsage::Display:
            needPicture();
            size = n->nationalPicture ? n->nationalBytes : n->pictureSize;
            if (n->separate) size += 1;
            break;
        case CobolUsage::National:
            needPicture();
            if (!(n->nationalPicture || n->numericPicture || (item->flags & ITEM_NUMERIC)))
                Fail(n, std::string("USAGE NATIONAL の項目の PICTURE は N か数字にしてください: ") + item->picture);
            size = n->nationalPicture ? n->nationalBytes : 2LL * (n->pictureSize + (n->separate ? 1 : 0));
            break;
        case CobolUsage::Display1:
            needPicture();
            if (!n->nationalPicture) Fail(n, std::string("USAGE DISPLAY-1 の項目の PICTURE は G か N にしてください: ") + item->picture);
            size = 2LL * n->pictureSize;
            break;
        case CobolUsage::Binary:
            needNumeric("BINARY");
            if (n->pictureDigits > 18) Fail(n, "2進項目は18桁までです。");
            size = BinarySize(n->pictureDigits);
            align = static_cast<int>(size);
            break;
        case CobolUsage::Comp5:
            needNumeric("COMP-5");
            if (n->pictureDigits > 18) Fail(n, "2進項目は18桁までです。");
            size = BinarySize(n->pictureDigits);  // IBM: 1 to 4 digits take a halfword
            align = static_cast<int>(size);
            break;
        case CobolUsage::CompX: {
            needPicture();
            if (item->flags & ITEM_ALPHANUMERIC) {
                size = n->pictureSize;
            } else {
                if (!n->numericPicture) Fail(n, std::string("USAGE COMP-X の PICTURE は 9 か X にしてください: ") + item->picture);
                // The fewest bytes whose unsigned range holds the largest value of the digits.
                long double largest = 1;
                for (int k = 0; k < n->pictureDigits; ++k) largest *= 10;
                long double range = 256;
                size = 1;
                while (range < largest && size < 16) {
                    range *= 256;
                    ++size;
                }
            }
            if (size == 2 || size == 4 || size == 8) align = static_cast<int>(size);
            CobolWarning warning;
            const CobolEntry& e = work_.entries[n->entry];
            warning.fileName = work_.files[e.file];
            warning.line = e.line;
            warning.message = std::string("COMP-X の項目 ") + item->name + " の大きさを " + std::to_string(size) + " バイトとしました。";
            warnings_.push_back(warning);
            break;
        }
        case CobolUsage::Packed:
            needNumeric("PACKED-DECIMAL");
            size = n->pictureDigits / 2 + 1;
            break;
        default:  // the usages of kFixedUsages, handled above
            break;
        case CobolUsage::Bit:
            needPicture();
            if (!(item->flags & ITEM_BOOLEAN)) Fail(n, std::string("USAGE BIT の項目の PICTURE は 1 にしてください: ") + item->picture);
            size = (n->pictureSize + 7) / 8;
            break;
        }
        n->size = size;
        n->align = n->sync ? align : 1;
    }

    // Lays out `children` from `base`; returns their extent. `table`: they make up one
    // occurrence of a table, which is padded to a multiple of their SYNC alignment.
    //
    // That alignment is worked out as GnuCOBOL lays it out: it starts at 1 in every
    // group; a SYNC elementary item raises it to its own alignment (a REDEFINES one
    // leaves it alone); a subgroup, REDEFINES or not, replaces it with the subgroup's
    // own, so the one left by the last subgroup counts, not the largest in the table.
    // The padding goes in front of the occurrence's last elementary item in the order
    // written, however deep it stands: that one item moves, the groups around it keep
    // their positions and lengths.
    long long LayoutChildren(const std::vector<CobolItemInfo*>& children, long long base, bool table, int& align) {
        long long pos = base;
        align = 1;
        for (CobolItemInfo* c : children) {
            if (!IsStorage(c)) continue;
            if (c->target != nullptr) {
                LayoutItem(c, c->target->offset);
                pos = std::max(pos, c->offset + Extent(c));
            } else {
                LayoutItem(c, pos);
                pos = c->offset + Extent(c);
            }
            if (pos > kMaxSize) Fail(c, "レコード長が大きすぎます。");
            if (c->group)
                align = c->align;
            else if (c->target == nullptr)
                align = std::max(align, c->align);
        }
        long long size = pos - base;
        CobolItemInfo* last = LastElementary(children);
        if (table && align > 1 && size % align != 0 && last != nullptr) {
            long long pad = align - size % align;
            last->offset += pad;
            size += pad;
        }
        return size;
    }

    // The last elementary item with storage among `children` and their subordinates.
    static CobolItemInfo* LastElementary(const std::vector<CobolItemInfo*>& children) {
        for (auto c = children.rbegin(); c != children.rend(); ++c) {
            if (!IsStorage(*c)) continue;
            if (!(*c)->group) return *c;
            if (CobolItemInfo* inner = LastElementary((*c)->children)) return inner;
        }
        return nullptr;
    }

    static long long Extent(const CobolItemInfo* n) { return n->size * std::max(1, n->occursMax); }

    void LayoutItem(CobolItemInfo* n, long long offset) {
        if (!n->group) {
            Elementary(n);
            if (n->align > 1 && n->target == nullptr && offset % n->align != 0) offset += n->align - offset % n->align;
            n->offset = offset;
            return;
        }
        n->offset = offset;
        n->size = LayoutChildren(n->children, offset, n->occursMax > 1, n->align);
    }

    // Whether the groups that hold `n` include `qualifiers`, innermost first, each
    // further out than the one before (N OF H IN R).
    static bool QualifiedBy(const CobolItemInfo* n, const std::vector<std::string>& qualifiers) {
        const CobolItemInfo* p = n->parent;
        for (const std::string& q : qualifiers) {
            while (p != nullptr && !SameName(q, p->item->name)) p = p->parent;
            if (p == nullptr) return false;
            p = p->parent;
        }
        return true;
    }

    // The storage item `name` (with its qualifiers) of `record` written before entry
    // `before` (a 66 names only what precedes it), and its place in walk order; null when
    // there is none.
    CobolItemInfo* FindInRecord(const CobolRecord& record, const std::string& name, const std::vector<std::string>& qualifiers,
                                int before, int& order) {
        int index = 0;
        CobolItemInfo* found = nullptr;
        auto walk = [&](auto&& self, CobolItemInfo* n) -> void {
            if (found) return;
            ++index;
            if (n->entry < before && SameName(name, n->item->name) && QualifiedBy(n, qualifiers)) {
                found = n;
                order = index;
                return;
            }
            for (CobolItemInfo* c : n->children)
                if (IsStorage(c)) self(self, c);
        };
        for (CobolItemInfo* t : record.top) walk(walk, t);
        return found;
    }

    // A renamed range starts and ends at items of one occurrence: not at a table (its
    // offset and size are those of its first occurrence) and not inside one.
    void CheckOutsideTables(CobolItemInfo* r, const CobolItemInfo* end) {
        if (end->occursMax > 0) Fail(r, "OCCURS の項目 " + std::string(end->item->name) + " は RENAMES の範囲の端にできません。");
        for (const CobolItemInfo* p = end->parent; p != nullptr; p = p->parent)
            if (p->occursMax > 0) Fail(r, "表 " + std::string(p->item->name) + " の一部は RENAMES できません。");
    }

    // The first table of variable length in the range from `first` to `last` (walk order,
    // everything inside both included), or null: its size is not that of its maximum.
    static const CobolItemInfo* VariableTableIn(const CobolRecord& record, const CobolItemInfo* first,
                                                const CobolItemInfo* last) {
        bool started = false, firstDone = false, lastDone = false;
        const CobolItemInfo* found = nullptr;
        auto walk = [&](auto&& self, const CobolItemInfo* n) -> void {
            if (found != nullptr || (firstDone && lastDone)) return;
            if (n == first) started = true;
            if (started && n->variable) {
                found = n;
                return;
            }
            for (const CobolItemInfo* c : n->children)
                if (IsStorage(c)) self(self, c);
            if (n == first) firstDone = true;
            if (n == last) lastDone = true;
        };
        for (const CobolItemInfo* t : record.top) walk(walk, t);
        return found;
    }

    void Renames(const CobolRecord& record, CobolItemInfo* r) {
        int fromOrder = 0, thruOrder = 0;
        CobolItemInfo* from = FindInRecord(record, r->renamesFrom, r->renamesFromOf, r->entry, fromOrder);
        if (from == nullptr) Fail(r, "RENAMES の対象 " + r->renamesFrom + " がこのレコードにありません。");
        if (from->item->level == 1 || from->item->level == 77) Fail(r, "レベル01と77の項目は RENAMES できません。");
        CheckOutsideTables(r, from);
        long long end = from->offset + from->size;
        CobolRenamesRange& range = work_.renames[r->item];
        range.from = from->item;
        if (!r->renamesThru.empty()) {
            CobolItemInfo* thru = FindInRecord(record, r->renamesThru, r->renamesThruOf, r->entry, thruOrder);
            if (thru == nullptr) Fail(r, "THRU の項目 " + r->renamesThru + " がこのレコードにありません。");
            if (thruOrder < fromOrder) Fail(r, "THRU の項目 " + r->renamesThru + " が " + r->renamesFrom + " より前にあります。");
            CheckOutsideTables(r, thru);
            if (const CobolItemInfo* table = VariableTableIn(record, from, thru))
                Fail(r, "RENAMES の範囲に OCCURS DEPENDING の表 " + std::string(table->item->name) + " は含められません。");
            end = std::max(end, thru->offset + thru->size);
            range.thru = thru->item;
        }
        r->offset = from->offset;
        r->size = end - from->offset;
        r->target = from;
        r->item->flags |= ITEM_RENAMES;
    }

    CobolWork& work_;
    const CobolOptions& options_;
    std::vector<CobolWarning>& warnings_;
    std::unordered_set<std::string> names_;  // every storage item's name, for DEPENDING ON
};

// Builds the final list: every item as written for its first occurrence, a copy for
// every further one, in program order.
class Emitter {
public:
    Emitter(CobolAnalyzer& analyzer, CobolWork& work) : analyzer_(analyzer), work_(work) {}

    std::vector<CopyItem*> Run(std::vector<CopyItem*>& created, long long& count) {
        created_ = &created;
        count_ = &count;
        order_.reserve(static_cast<std::size_t>(count));
        for (CobolRecord& record : work_.records) {
            CopyItem* previousTop = nullptr;
            for (CobolItemInfo* t : record.top) {
                std::vector<CopyItem*> occurrences = Emit(t, 0, 0, 0, nullptr);
                for (CopyItem* o : occurrences) {
                    if (previousTop) {
                        previousTop->nextSibling = o;
                        o->prevSibling = previousTop;
                    }
                    previousTop = o;
                }
            }
            for (CobolItemInfo* r : record.renames) {
                CopyItem* item = r->item;
                item->position = static_cast<int>(r->offset + 1);
                item->byteLength = static_cast<int>(r->size);
                item->parent = record.top.front()->item->level == 1 ? record.top.front()->item : nullptr;
                order_.push_back(item);
            }
        }
        return order_;
    }

private:
    CopyItem* Occurrence(CobolItemInfo* n, bool first) {
        if (first) return n->item;
        if (++*count_ > kMaxListItems) RAISE(CMemoryException, "メモリの確保に失敗しました。");
        CopyItem* copy = analyzer_.NewItem();
        created_->push_back(copy);
        *copy = *n->item;
        copy->next = copy->prev = copy->parent = copy->firstChild = nullptr;
        copy->nextSibling = copy->prevSibling = copy->redefines = nullptr;
        if (!(n->group) && n->item->occursCount > 0) copy->occursCount = 0;
        return copy;
    }

    // Emits n (all its occurrences) at `shift` bytes from its laid-out offset; returns the occurrences.
    std::vector<CopyItem*> Emit(CobolItemInfo* n, long long shift, int dimension, int elementNo, CopyItem* parent) {
        std::vector<CopyItem*> result;
        const bool table = n->occursMax > 0;
        const int count = table ? n->occursMax : 1;
        for (int k = 1; k <= count; ++k) {
            const long long at = shift + static_cast<long long>(k - 1) * n->size;
            CopyItem* item = Occurrence(n, !n->emitted);
            n->emitted = true;
            item->position = static_cast<int>(n->offset + at + 1);
            item->byteLength = static_cast<int>(n->size);
            item->dimension = dimension + (table ? 1 : 0);
            item->elementNo = table ? k : elementNo;
            if (item->dimension > 0) item->flags |= ITEM_ARRAY;
            item->parent = parent;
            if (n->target != nullptr) {
                item->redefines = n->target->latest != nullptr ? n->target->latest : n->target->item;
            }
            n->latest = item;
            if (n->variable) {
                work_.depending[item] = n->dependingOn;
                work_.occursMinimum[item] = n->occursMin;
            }
            order_.push_back(item);
            result.push_back(item);
            CopyItem* previousChild = nullptr;
            for (CobolItemInfo* c : n->children) {
                if (!IsStorage(c)) {
                    CopyItem* condition = Occurrence(c, !c->emitted);
                    c->emitted = true;
                    condition->position = item->position;
                    condition->byteLength = 0;
                    condition->dimension = item->dimension;
                    condition->elementNo = item->elementNo;
                    condition->parent = item;
                    condition->flags |= ITEM_CONDITION | (item->dimension > 0 ? ITEM_ARRAY : 0);
                    if (c->conditionValues >= 0) work_.conditions[condition] = &work_.conditionLists[c->conditionValues];
                    order_.push_back(condition);
                    continue;
                }
                std::vector<CopyItem*> kids = Emit(c, at, item->dimension, item->elementNo, item);
                for (CopyItem* kid : kids) {
                    if (item->firstChild == nullptr) item->firstChild = kid;
                    if (previousChild) {
                        previousChild->nextSibling = kid;
                        kid->prevSibling = previousChild;
                    }
                    previousChild = kid;
                }
            }
        }
        return result;
    }

    CobolAnalyzer& analyzer_;
    CobolWork& work_;
    std::vector<CopyItem*>* created_ = nullptr;
    long long* count_ = nullptr;
    std::vector<CopyItem*> order_;
};

}  // namespace

void CobolAnalyzer::ExpandArrays(CopyItem* first) {
    if (first == nullptr) return;
    Layout(*work, options, warnings).Run();

    // The new order, made before anything is relinked, so that a failure leaves the list as it was.
    std::vector<CopyItem*> created;
    std::vector<CopyItem*> order;
    long long count = static_cast<long long>(work->infos.size());
    try {
        order = Emitter(*this, *work).Run(created, count);
    } catch (...) {
        for (CopyItem* c : created) ReleaseBytes(c);
        throw;
    }
    CopyItem* previous = nullptr;
    for (CopyItem* item : order) {
        item->prev = previous;
        item->next = nullptr;
        if (previous) previous->next = item;
        else head = item;
        previous = item;
    }
    tail = previous;
    // The list as written ends at its last item that is no copy, as under the default
    // rules: the collapsed list stops there, so that the copies of a table at the end
    // (among them its inner tables' first elements in later occurrences) are not shown.
    std::unordered_set<const CopyItem*> copies(created.begin(), created.end());
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        if (copies.count(*it) == 0) {
            (*it)->flags |= ITEM_LIST_END;
            break;
        }
    }
}

// The passes below are done by ExpandArrays for the COBOL rules, which lays out the
// tree as written before it copies the occurrences.
CopyItem* CobolAnalyzer::LinkSiblings(CopyItem* item) { return item; }
CopyItem* CobolAnalyzer::LinkGroups(CopyItem*) { return nullptr; }
void CobolAnalyzer::ComputeByteLengths(CopyItem*) {}
CopyItem* CobolAnalyzer::ComputeDimensions(CopyItem* item, int) { return item; }
void CobolAnalyzer::NumberAllElements() {}
int CobolAnalyzer::ComputeGroupLengths(CopyItem* item) { return item ? item->byteLength : 0; }
void CobolAnalyzer::ComputeRecordLength() { recordLength = static_cast<unsigned>(work->recordLength); }
CopyItem* CobolAnalyzer::ComputePositions(CopyItem*, int) { return nullptr; }
