// The keyword table of the copybook dialect and its lookup.
#include "keywords.h"

#include "engine_internal.h"

namespace {

// Usage words in the order ParseUsage tests them.
const Keyword kCopybookWords[] = {
    {"BINARY", KEYWORD_USAGE, USAGE_BINARY},
    {"COMP", KEYWORD_USAGE, USAGE_BINARY},
    {"COMP-4", KEYWORD_USAGE, USAGE_BINARY},
    {"COMPUTATIONAL", KEYWORD_USAGE, USAGE_BINARY},
    {"COMPUTATIONAL-4", KEYWORD_USAGE, USAGE_BINARY},
    {"PACKED-DECIMAL", KEYWORD_USAGE, USAGE_PACKED},
    {"COMP-3", KEYWORD_USAGE, USAGE_PACKED},
    {"COMPUTATIONAL-3", KEYWORD_USAGE, USAGE_PACKED},
    {"COMP-5", KEYWORD_USAGE, USAGE_COMP5},
    {"COMPUTATIONAL-5", KEYWORD_USAGE, USAGE_COMP5},
    {"BIT", KEYWORD_USAGE, USAGE_BIT},
    {"COMP-1", KEYWORD_FLOATING, USAGE_FLOAT},
    {"COMPUTATIONAL-1", KEYWORD_FLOATING, USAGE_FLOAT},
    {"COMP-2", KEYWORD_FLOATING, USAGE_DOUBLE},
    {"COMPUTATIONAL-2", KEYWORD_FLOATING, USAGE_DOUBLE},
    {"PIC", KEYWORD_PICTURE, 0},
    {"PICTURE", KEYWORD_PICTURE, 0},
    {"REDEFINES", KEYWORD_REDEFINES, 0},
    {"OCCURS", KEYWORD_OCCURS, 0},
    {"DEPENDING", KEYWORD_DEPENDING, 0},
};

}  // namespace

const KeywordTable COPYBOOK_KEYWORDS = {kCopybookWords, sizeof kCopybookWords / sizeof kCopybookWords[0], nullptr};

const Keyword* KeywordTable::Find(const char* word) const {
    // The first byte, folded, passes over most entries without a whole comparison.
    const char first = FoldByte(word[0]);
    for (const KeywordTable* table = this; table != nullptr; table = table->base) {
        for (std::size_t i = 0; i < table->count; ++i) {
            const Keyword& entry = table->entries[i];
            if (FoldByte(entry.word[0]) == first && CompareNoCase(word, entry.word) == 0) return &entry;
        }
    }
    return nullptr;
}

int KeywordTable::KindOf(const char* word) const {
    const Keyword* entry = Find(word);
    return entry != nullptr ? entry->kind : KEYWORD_ORDINARY;
}
