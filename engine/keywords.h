// The reserved words of the entry parser, in one table: each word with what it is and
// the item flag it sets. The parse stages look a word up once and act by its kind;
// ParseUsage takes the words of kind KEYWORD_USAGE.
//
// A dialect extends the table without copying it: it defines a KeywordTable of its own
// words whose `base` is COPYBOOK_KEYWORDS and sets the analyser's `keywords` to it.
// A word is looked up in a table before its base, so a dialect's entry also replaces
// the meaning of a base word (KEYWORD_ORDINARY makes a base keyword an ordinary word).
// The seed stages act on the kinds listed here and take any other kind as an ordinary
// word; kinds from KEYWORD_EXTENSION up are free for a dialect's own stages.
#ifndef COBCPY_KEYWORDS_H
#define COBCPY_KEYWORDS_H

#include <cstddef>

enum KeywordKind {
    KEYWORD_ORDINARY = 0,    // no keyword: a name, or a word the stages pass over
    KEYWORD_USAGE,           // a usage word of ParseUsage: sets `flag`
    KEYWORD_FLOATING,        // COMP-1, COMP-2 and their long forms: sets `flag`
    KEYWORD_PICTURE,         // PIC, PICTURE
    KEYWORD_REDEFINES,
    KEYWORD_OCCURS,
    KEYWORD_DEPENDING,       // refused wherever it stands
    KEYWORD_EXTENSION = 64   // the first kind a dialect may give its own words
};

struct Keyword {
    const char* word;   // as written in the table; matched with CompareNoCase
    int kind;           // a KeywordKind, or a dialect's own kind
    unsigned flag;      // the item flag the word sets (KEYWORD_USAGE, KEYWORD_FLOATING), else 0
};

struct KeywordTable {
    const Keyword* entries;
    std::size_t count;
    const KeywordTable* base;   // searched after this table; null for none

    // The entry of `word` (whole word, ASCII letters in either case) in this table or
    // else its bases; null when the word is in none of them.
    const Keyword* Find(const char* word) const;
    // The kind of `word`: its entry's kind, KEYWORD_ORDINARY when it has none.
    int KindOf(const char* word) const;
};

// The words of the copybook dialect the analyser reads by default.
extern const KeywordTable COPYBOOK_KEYWORDS;

#endif
