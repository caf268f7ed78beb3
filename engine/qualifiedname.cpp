// Item lookup by a COBOL qualified name (qualifiedname.h).
//
// The key is read into its data names, outermost first, each with the subscripts
// written after it. The list is then walked once: every item bearing the innermost
// name whose groups include the qualifiers (in order outwards) answers to the name.
// Of those, the ones in the first occurrence of every table that holds them stand for
// the data description entries as written, one each: more than one of them makes the
// name ambiguous. The item returned is the one of the single entry whose occurrence
// numbers, table by table from the outermost, are the key's subscripts.
#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "engine_internal.h"
#include "qualifiedname.h"

namespace {

// One data name of a key, with the subscripts written after it.
struct NameSegment {
    std::string name;
    std::vector<int> subscripts;
};

// The words of a key: names (and numbers), "(", ")", ",", "." and the end.
struct KeyToken {
    enum Kind { Word, Open, Close, Comma, Dot, End } kind = End;
    std::string text;
};

bool IsKeyBlank(char c) { return c == ' ' || c == '\t'; }

bool IsKeyPunctuation(char c) { return c == '(' || c == ')' || c == ',' || c == '.'; }

class KeyReader {
public:
    explicit KeyReader(const char* key) : at_(key) {}

    KeyToken Next() {
        while (IsKeyBlank(*at_)) ++at_;
        KeyToken token;
        switch (*at_) {
            case '\0': token.kind = KeyToken::End; return token;
            case '(': token.kind = KeyToken::Open; break;
            case ')': token.kind = KeyToken::Close; break;
            case ',': token.kind = KeyToken::Comma; break;
            case '.': token.kind = KeyToken::Dot; break;
            default: {
                // A word ends at a blank or punctuation; a double-byte character is
                // taken whole (no second byte is one of those).
                const char* start = at_;
                while (*at_ != '\0' && !IsKeyBlank(*at_) && !IsKeyPunctuation(*at_)) at_ += ShiftJisCharWidth(at_);
                token.kind = KeyToken::Word;
                token.text.assign(start, static_cast<std::size_t>(at_ - start));
                return token;
            }
        }
        token.text.assign(at_, 1);
        ++at_;
        return token;
    }

private:
    const char* at_;
};

bool IsQualifierWord(const std::string& word) {
    return CompareNoCase(word.c_str(), "OF") == 0 || CompareNoCase(word.c_str(), "IN") == 0;
}

bool IsNumber(const std::string& word) {
    return !word.empty() && std::all_of(word.begin(), word.end(), [](char c) { return IsDecimalDigit(c); });
}

// A subscript's value; one too large for an int counts as INT_MAX (beyond any table).
int NumberValue(const std::string& digits) {
    long long value = 0;
    for (char c : digits) {
        value = value * 10 + (c - '0');
        if (value > INT_MAX) return INT_MAX;
    }
    return static_cast<int>(value);
}

std::string Quoted(const KeyToken& token) {
    return token.kind == KeyToken::End ? std::string("the end of the key") : "'" + token.text + "'";
}

// Reads `key` into `segments`, outermost first; false with `reason` on a malformed key.
bool ReadKey(const char* key, std::vector<NameSegment>& segments, std::string& reason) {
    KeyReader reader(key);
    std::vector<NameSegment> written;  // in the order written
    enum Joint { None, Dots, Qualifiers } joint = None;
    KeyToken token = reader.Next();
    if (token.kind == KeyToken::End) {
        reason = "syntax: the key is empty";
        return false;
    }
    for (;;) {
        if (token.kind != KeyToken::Word || IsQualifierWord(token.text)) {
            reason = "syntax: a data name is expected, not " + Quoted(token);
            return false;
        }
        if (IsNumber(token.text)) {
            reason = "syntax: occurrence numbers are written in parentheses after the name, not as " + Quoted(token);
            return false;
        }
        NameSegment& segment = written.emplace_back();
        segment.name = token.text;
        token = reader.Next();
        // Subscript lists: one after a name, and in the OF/IN form one more after the last.
        for (int list = 0; token.kind == KeyToken::Open; ++list) {
            if (list > 0) {
                reason = "syntax: a second subscript list after " + segment.name;
                return false;
            }
            std::vector<int>& subscripts = segment.subscripts;
            token = reader.Next();
            for (;;) {
                if (token.kind == KeyToken::End) {
                    reason = "syntax: ')' is missing after the subscripts of " + segment.name;
                    return false;
                }
                if (token.kind != KeyToken::Word || !IsNumber(token.text)) {
                    reason = "syntax: subscripts are occurrence numbers, not " + Quoted(token);
                    return false;
                }
                int value = NumberValue(token.text);
                if (value == 0) {
                    reason = "subscript 0: occurrences are numbered from 1";
                    return false;
                }
                subscripts.push_back(value);
                token = reader.Next();
                if (token.kind == KeyToken::Comma) token = reader.Next();
                else if (token.kind == KeyToken::Close) break;
            }
            token = reader.Next();
        }
        if (token.kind == KeyToken::End) break;
        Joint here = token.kind == KeyToken::Dot ? Dots : (token.kind == KeyToken::Word && IsQualifierWord(token.text)) ? Qualifiers : None;
        if (here == None) {
            reason = "syntax: OF, IN or '.' is expected after " + segment.name + ", not " + Quoted(token);
            return false;
        }
        if (joint != None && here != joint) {
            reason = "syntax: a key joins its names with OF/IN or with dots, not both";
            return false;
        }
        joint = here;
        token = reader.Next();
    }
    if (joint == Qualifiers) {
        // Subscripts after the last qualifier are those of the whole reference (they
        // belong to the item named) when no other name has a list; otherwise each list
        // belongs to the name it follows: "D IN B(3) OF T(2)".
        const bool onlyLast = std::all_of(written.begin(), written.end() - 1, [](const NameSegment& s) { return s.subscripts.empty(); });
        if (onlyLast) std::swap(written.front().subscripts, written.back().subscripts);
        std::reverse(written.begin(), written.end());
    }
    segments = std::move(written);
    return true;
}

// Whether an item's name is `name`: ASCII letters in either case, the two bytes of a
// double-byte character exactly.
bool SameName(const std::string& name, const CopyItem* item) {
    const char* field = item->name;
    const std::size_t capacity = sizeof item->name - 1;  // a field filled by hand may lack its terminator
    if (name.size() > capacity) return false;
    std::size_t i = 0;
    while (i < name.size()) {
        if (FoldByte(name[i]) != FoldByte(field[i])) return false;
        if (IsShiftJisLeadByte(name[i]) && i + 1 < name.size()) {
            if (name[i + 1] != field[i + 1]) return false;
            i += 2;
        } else {
            ++i;
        }
    }
    return i == capacity || field[i] == '\0';
}

// An item with every group above it: "D OF B OF R".
std::string FullName(const CopyItem* item) {
    std::string text = ItemText(item->name).Get();
    for (const CopyItem* p = item->parent; p != nullptr; p = p->parent) text += std::string(" OF ") + ItemText(p->name).Get();
    return text;
}

std::string Plural(std::size_t count, const char* word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

// How one item answers to the key's names.
struct Match {
    std::vector<const CopyItem*> named;   // the item for each segment, outermost first
    std::vector<const CopyItem*> tables;  // its table occurrences, outermost first
};

// Whether `item` answers to the names of `segments` (it bears the last, its groups the
// others in order outwards); fills `match`. An item whose tables do not add up to its
// dimension lies in a structure the layout did not link regularly: it answers to nothing.
bool Answers(const CopyItem* item, const std::vector<NameSegment>& segments, Match& match) {
    if (!SameName(segments.back().name, item)) return false;
    match.named.assign(segments.size(), nullptr);
    match.named.back() = item;
    const CopyItem* p = item->parent;
    for (std::size_t j = segments.size() - 1; j-- > 0;) {
        while (p != nullptr && !SameName(segments[j].name, p)) p = p->parent;
        if (p == nullptr) return false;
        match.named[j] = p;
        p = p->parent;
    }
    match.tables.clear();
    for (const CopyItem* n = item; n != nullptr; n = n->parent)
        if (IsTableOccurrence(n)) match.tables.push_back(n);
    if (static_cast<int>(match.tables.size()) != item->dimension) return false;
    std::reverse(match.tables.begin(), match.tables.end());
    return true;
}

bool FirstOccurrence(const Match& match) {
    return std::all_of(match.tables.begin(), match.tables.end(), [](const CopyItem* t) { return t->elementNo == 1; });
}

// The occurrences of the table whose first occurrence is `first`: its siblings of the
// same name numbered on from it.
int OccurrenceCount(const CopyItem* first) {
    int count = 1;
    for (const CopyItem* s = first->nextSibling; s != nullptr && s->elementNo == count + 1 && std::strcmp(s->name, first->name) == 0;
         s = s->nextSibling)
        ++count;
    return count;
}

// Whether the subscripts of `segments` fit the entry `entry` answers for; `reason` otherwise.
bool SubscriptsFit(const std::vector<NameSegment>& segments, const Match& entry, const std::vector<int>& subscripts,
                   std::string& reason) {
    // A list written after a name holds subscripts of the tables down to that item.
    std::size_t given = 0;
    for (std::size_t j = 0; j < segments.size(); ++j) {
        given += segments[j].subscripts.size();
        if (segments[j].subscripts.empty()) continue;
        const CopyItem* named = entry.named[j];
        std::size_t above = 0;
        for (const CopyItem* t : entry.tables) {
            for (const CopyItem* p = named; p != nullptr; p = p->parent)
                if (p == t) ++above;
        }
        if (given > above) {
            const std::string name = ItemText(named->name).Get();
            reason = above == 0 ? name + " is not in a table" : "too many subscripts for " + name + ": it is in " + Plural(above, "table");
            return false;
        }
    }
    const std::string name = ItemText(entry.named.back()->name).Get();
    const std::size_t needed = entry.tables.size();
    if (subscripts.size() != needed) {
        if (needed == 0) reason = name + " is not in a table";
        else if (subscripts.empty()) reason = name + " needs " + Plural(needed, "subscript");
        else reason = name + " needs " + Plural(needed, "subscript") + ", " + std::to_string(subscripts.size()) + " given";
        return false;
    }
    for (std::size_t k = 0; k < needed; ++k) {
        int count = OccurrenceCount(entry.tables[k]);
        if (subscripts[k] > count) {
            reason = "subscript " + std::to_string(subscripts[k]) + " beyond OCCURS " + std::to_string(count) + " of " +
                     ItemText(entry.tables[k]->name).Get();
            return false;
        }
    }
    return true;
}

bool SameOccurrence(const Match& match, const std::vector<int>& subscripts) {
    if (match.tables.size() != subscripts.size()) return false;
    for (std::size_t k = 0; k < subscripts.size(); ++k)
        if (match.tables[k]->elementNo != subscripts[k]) return false;
    return true;
}

}  // namespace

const CopyItem* FindQualifiedItem(const CopyItem* head, const char* key, std::string& reason) {
    reason.clear();
    if (key == nullptr) {
        reason = "syntax: the key is empty";
        return nullptr;
    }
    std::vector<NameSegment> segments;
    if (!ReadKey(key, segments, reason)) return nullptr;
    std::vector<int> subscripts;
    for (const NameSegment& s : segments) subscripts.insert(subscripts.end(), s.subscripts.begin(), s.subscripts.end());

    // One walk: the entries the name answers to (the first two kept) and the items of
    // the occurrence the subscripts give.
    Match match, entry;
    std::size_t entries = 0;
    const CopyItem* second = nullptr;
    const CopyItem* found = nullptr;
    std::size_t foundCount = 0;
    for (const CopyItem* item = head; item != nullptr; item = item->next) {
        if (!Answers(item, segments, match)) continue;
        if (FirstOccurrence(match)) {
            if (++entries == 1) entry = match;
            else if (entries == 2) second = item;
        }
        if (SameOccurrence(match, subscripts) && foundCount++ == 0) found = item;
    }
    if (entries == 0) {
        reason = "not found";
        return nullptr;
    }
    if (entries > 1) {
        reason = "ambiguous: " + FullName(entry.named.back()) + " and " + FullName(second);
        return nullptr;
    }
    if (!SubscriptsFit(segments, entry, subscripts, reason)) return nullptr;
    if (foundCount != 1) {
        reason = "not found";
        return nullptr;
    }
    return found;
}

CopyItem* FindQualifiedItem(CopyItem* head, const char* key, std::string& reason) {
    // The item belongs to the caller's list, which it may change.
    return const_cast<CopyItem*>(FindQualifiedItem(static_cast<const CopyItem*>(head), key, reason));
}

const CopyItem* FindQualifiedItem(const CopyItem* head, const char* key) {
    std::string reason;
    return FindQualifiedItem(head, key, reason);
}

CopyItem* FindQualifiedItem(CopyItem* head, const char* key) {
    std::string reason;
    return FindQualifiedItem(head, key, reason);
}
