// PlacedCopyAnalyzer: the default analysis with the places of its entries. Every step
// is the base class's own; the overrides only look on (the kept lines' starts while the
// file is read, the entry each level number starts) and, when a step raises, find the
// entry concerned before the exception goes on unchanged.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>

#include "engine_internal.h"

namespace {

constexpr int kWordCapacity = 64;

bool IsEntryBlank(char c) { return c == ' ' || c == '\t'; }

// The words of a joined entry from `position` up to its ";" (or the end of its line).
template <typename Visit>
void ForEachWord(const char* position, Visit visit) {
    char word[kWordCapacity];
    for (;;) {
        while (IsEntryBlank(*position)) ++position;
        if (*position == '\0' || *position == '\n' || *position == ';') return;
        std::size_t n = 0;
        while (*position != '\0' && *position != '\n' && *position != ';' && !IsEntryBlank(*position)) {
            if (n < sizeof word - 1) word[n++] = *position;
            ++position;
        }
        word[n] = '\0';
        visit(static_cast<const char*>(word));
    }
}

bool IsOneOf(const char* word, std::initializer_list<const char*> keywords) {
    for (const char* keyword : keywords)
        if (CompareNoCase(word, keyword) == 0) return true;
    return false;
}

// Whether the first byte of a PICTURE string selects one of the default analysis's
// picture analyses.
bool IsDefaultPicture(const char* picture) {
    switch (FoldByte(picture[0])) {
    case '9': case 'z': case '\\': case '$': case '+': case '-': case 's':
    case 'x': case 'b': case 'n': case 'g': case 'j': case '1':
        return true;
    default:
        return false;
    }
}

// The digit positions of a numeric picture (9 and 9(n), after an optional S); 0 for a
// picture with any other symbol than S, V, P, 9 and repeats.
long NumericPictureDigits(const char* picture) {
    long digits = 0;
    for (const char* p = picture; *p != '\0'; ++p) {
        const char c = FoldByte(*p);
        if (c == '(') {
            char* end = nullptr;
            long count = std::strtol(p + 1, &end, 10);
            if (end == p + 1 || *end != ')' || count < 1) return 0;
            // The repeat counts the symbol before it once more than written.
            if (p > picture && FoldByte(p[-1]) == '9') digits += count - 1;
            p = end;
        } else if (c == '9') {
            ++digits;
        } else if (c != 's' && c != 'v' && c != 'p' && c != '.') {
            return 0;
        }
    }
    return digits;
}

// Whether the entry at `position` holds what the COBOL rules read and the default
// analysis does not.
bool ReadByCobolRules(const char* position) {
    bool cobol = false;
    bool first = true;
    bool picture = false;
    ForEachWord(position, [&](const char* word) {
        if (first && IsOneOf(word, {"66", "77", "88"})) cobol = true;
        if (picture && !IsDefaultPicture(word)) cobol = true;
        // Numbers of more than the default analysis's 18 digits (up to COBOL's 38).
        if (picture && NumericPictureDigits(word) > 18 && NumericPictureDigits(word) <= 38) cobol = true;
        picture = IsOneOf(word, {"PIC", "PICTURE"});
        if (IsOneOf(word, {"VALUE", "VALUES", "SIGN", "SEPARATE", "SYNC", "SYNCHRONIZED", "DEPENDING", "COPY",
                           "REPLACING", "RENAMES", "SECTION", "DIVISION", "EXEC", "JUST", "JUSTIFIED", "BLANK",
                           "INDEXED", "ASCENDING", "DESCENDING", "POINTER", "INDEX", "NATIONAL", "DISPLAY-1",
                           "COMP-X", "COMPUTATIONAL-X", "BINARY-CHAR", "BINARY-SHORT", "BINARY-LONG",
                           "BINARY-DOUBLE"}))
            cobol = true;
        first = false;
    });
    return cobol;
}

}  // namespace

PlacedCopyAnalyzer::PlacedCopyAnalyzer(const char* fileName) : CopyAnalyzer(fileName) {}

CopyItem* PlacedCopyAnalyzer::Analyze() {
    lineStarts.clear();
    itemLines.clear();
    notes.clear();
    entryStart = nullptr;
    pass = Pass::Parse;
    failedLine = 0;
    failedEntryReadByCobolRules = false;
    try {
        CopyItem* result = CopyAnalyzer::Analyze();
        lineStarts = std::vector<SourceLineStart>();
        itemLines = std::vector<std::pair<const CopyItem*, int>>();
        return result;
    } catch (CItemLimitException&) {
        if (pass != Pass::Parse) PlaceLayoutFailure(true);
        throw;
    } catch (CException&) {
        if (pass != Pass::Parse) PlaceLayoutFailure(false);
        throw;
    }
}

void PlacedCopyAnalyzer::LoadSource() { LoadCopybookText(fileName, sourceFile, sourceText, &lineStarts); }

void PlacedCopyAnalyzer::ParseEntries() {
    pass = Pass::Parse;
    entryStart = nullptr;
    try {
        CopyAnalyzer::ParseEntries();
    } catch (...) {
        if (entryStart != nullptr) {
            failedLine = LineAt(entryStart);
            failedEntryReadByCobolRules = ReadByCobolRules(entryStart);
        }
        throw;
    }
    NoteClauses();
    pass = Pass::Arrays;
}

char* PlacedCopyAnalyzer::ParseLevel(CopyItem* item, char* position) {
    entryStart = position;
    char* next = CopyAnalyzer::ParseLevel(item, position);
    if (stage == 2) itemLines.emplace_back(item, LineAt(entryStart));
    return next;
}

void PlacedCopyAnalyzer::ExpandArrays(CopyItem* first) {
    pass = Pass::Arrays;
    CopyAnalyzer::ExpandArrays(first);
}

void PlacedCopyAnalyzer::ComputeByteLengths(CopyItem* first) {
    pass = Pass::ByteLengths;
    CopyAnalyzer::ComputeByteLengths(first);
}

int PlacedCopyAnalyzer::ComputeGroupLengths(CopyItem* item) {
    pass = Pass::Lengths;
    return CopyAnalyzer::ComputeGroupLengths(item);
}

CopyItem* PlacedCopyAnalyzer::ComputePositions(CopyItem* item, int position) {
    pass = Pass::Lengths;
    return CopyAnalyzer::ComputePositions(item, position);
}

// The line of the first byte of the entry whose joined line starts at `position`: its
// blanks (and the line feeds joined into blanks) passed over.
int PlacedCopyAnalyzer::LineAt(const char* position) const {
    if (sourceText == nullptr || lineStarts.empty()) return 0;
    while (IsEntryBlank(*position)) ++position;
    const std::size_t offset = static_cast<std::size_t>(position - sourceText);
    auto after = std::upper_bound(lineStarts.begin(), lineStarts.end(), offset,
                                  [](std::size_t at, const SourceLineStart& start) { return at < start.offset; });
    return after == lineStarts.begin() ? lineStarts.front().line : (after - 1)->line;
}

// The entry of a layout pass that raised: the layout is worked out again from the items
// as written, only as far as needed to see which entry goes beyond the limit.
void PlacedCopyAnalyzer::PlaceLayoutFailure(bool itemLimit) {
    constexpr std::int64_t kCap = std::int64_t(1) << 50;
    struct Open {
        int level;
        std::int64_t occurrences;  // of each item directly under it
    };
    std::vector<Open> open;
    std::int64_t total = 0;
    int redefinesLevel = 0;  // inside a REDEFINES item of this level: storage counted elsewhere
    for (std::size_t i = 0; i < itemLines.size(); ++i) {
        const CopyItem* item = itemLines[i].first;
        while (!open.empty() && open.back().level >= item->level) open.pop_back();
        if (redefinesLevel != 0 && item->level <= redefinesLevel) redefinesLevel = 0;
        if (redefinesLevel == 0 && (item->flags & ITEM_REDEFINES)) redefinesLevel = item->level;
        const std::int64_t outer = open.empty() ? 1 : open.back().occurrences;
        const std::int64_t occurrences = std::min(kCap, outer * std::max(1, item->occursCount));
        const bool elementary = i + 1 == itemLines.size() || itemLines[i + 1].first->level <= item->level;
        bool beyond = false;
        if (itemLimit) {
            total += occurrences;
            beyond = total > MAX_LIST_ITEMS;
        } else if (pass == Pass::ByteLengths) {
            // The lengths are given in list order: the first item as written without
            // one is where the pass stopped.
            beyond = elementary && !(item->flags & ITEM_GROUP) && item->byteLength == 0;
        } else if (elementary) {
            const std::int64_t bytes = std::min(kCap, occurrences * std::max(0, item->byteLength));
            if (redefinesLevel == 0) total = std::min(kCap, total + bytes);
            beyond = bytes > INT_MAX || total > INT_MAX;
        }
        if (beyond) {
            failedLine = itemLines[i].second;
            return;
        }
        open.push_back(Open{item->level, occurrences});
    }
}

// The SIGN ... SEPARATE and SYNC clauses of the joined entries (each up to its ";").
void PlacedCopyAnalyzer::NoteClauses() {
    if (sourceText == nullptr) return;
    for (const char* line = sourceText; *line != '\0';) {
        bool separate = false, sync = false;
        ForEachWord(line, [&](const char* word) {
            separate = separate || CompareNoCase(word, "SEPARATE") == 0;
            sync = sync || IsOneOf(word, {"SYNC", "SYNCHRONIZED"});
        });
        if (separate) notes.push_back(CopySourceNote{CopySourceNote::SignSeparate, LineAt(line)});
        if (sync) notes.push_back(CopySourceNote{CopySourceNote::Sync, LineAt(line)});
        while (*line != '\0' && *line != '\n') ++line;
        if (*line == '\n') ++line;
    }
}
