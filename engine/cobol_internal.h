// Shared by the sources of the COBOL-rules analysis only (cobol_*.cpp).
#ifndef COBCPY_COBOL_INTERNAL_H
#define COBCPY_COBOL_INTERNAL_H

#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cobolrules.h"
#include "engine_internal.h"

// One word of the source after format handling and COPY expansion.
// Its text is a view: into the text of the file it comes from as a rule, into
// CobolWork::owned where lexing or COPY REPLACING made a text of its own.
struct CobolToken {
    enum Kind : unsigned char { Word, Literal, Period, PseudoDelimiter };
    Kind kind = Word;
    bool freeFormat = false;  // the source format in force where the token stands
    int file = 0;      // index into CobolWork::files
    int line = 0;      // line of the token's first byte, from 1
    int remark = -1;   // a period's "*>" comment on the rest of its line: index into CobolWork::remarks
    std::string_view text;  // as written (a literal with its quotes and prefix)
};

// A run of consecutive tokens of CobolWork::tokens.
struct CobolTokenSpan {
    const CobolToken* first = nullptr;
    std::size_t count = 0;
    std::size_t size() const { return count; }
    bool empty() const { return count == 0; }
    const CobolToken& operator[](std::size_t i) const { return first[i]; }
    const CobolToken& front() const { return first[0]; }
    const CobolToken& back() const { return first[count - 1]; }
    const CobolToken* begin() const { return first; }
    const CobolToken* end() const { return first + count; }
};

// One data description entry: its words up to (without) the separator period.
struct CobolEntry {
    CobolTokenSpan tokens;
    int file = 0;
    int line = 0;
    int remark = -1;  // the "*>" comment after its period on the same line
};

// How an item is stored.
enum class CobolUsage {
    None, Display, National, Display1, Binary, Comp5, CompX, Packed, Float, Double,
    Pointer, Index, BinaryChar, BinaryShort, BinaryLong, BinaryDouble, Bit
};

// What the parser learnt about one entry, and what the layout works out for it.
struct CobolItemInfo {
    CopyItem* item = nullptr;
    int entry = 0;  // index into CobolWork::entries
    int level = 0;  // item->level, kept here for the tree walks
    // From the entry.
    bool hasPicture = false;
    int pictureSize = 0;       // character positions of the PICTURE (sign not separate)
    int pictureDigits = 0;     // digit positions, P not counted
    bool nationalPicture = false;  // N or G: two bytes per character
    int nationalBytes = 0;         // N or G: its bytes (N-edited B 0 / take one byte each)
    bool impliesNational = false;  // N, not G: USAGE NATIONAL without a USAGE clause
    bool numericPicture = false;   // numeric category (not edited)
    CobolUsage usage = CobolUsage::None;
    bool usageClause = false;  // a USAGE clause (or a usage word alone) has been read
    unsigned usageFlags = 0;   // the flag bits its usage added, cleared when a later USAGE replaces it
    bool sync = false;
    int sign = 0;              // 0 none, 1 LEADING, 2 TRAILING
    bool separate = false;
    int occursMin = 0, occursMax = 0;
    bool variable = false;
    std::string dependingOn;
    int conditionValues = -1;  // a level 88's values: index into CobolWork::conditionLists
    std::string redefinesName;
    std::string renamesFrom, renamesThru;
    std::vector<std::string> renamesFromOf, renamesThruOf;  // their qualifiers (OF|IN name), innermost first
    // Tree and layout.
    CobolItemInfo* parent = nullptr;
    std::vector<CobolItemInfo*> children;  // storage items and 88s, in source order
    CobolItemInfo* target = nullptr;       // the redefined item
    int record = -1;
    long long offset = 0;                  // from the start of its record, first occurrence
    long long size = 0;                    // one occurrence
    int align = 1;                         // SYNC alignment: an elementary item's own; a group's as it pads a table
    bool group = false;
    CobolUsage effectiveUsage = CobolUsage::Display;
    // Emission: whether the item as written has been placed, and its latest occurrence.
    bool emitted = false;
    CopyItem* latest = nullptr;
};

struct CobolRecord {
    std::vector<CobolItemInfo*> top;  // storage items at the top of the record
    std::vector<CobolItemInfo*> renames;
    long long size = 0;
};

struct CobolWork {
    std::vector<std::string> files;  // the copybook and every member read, by index
    std::deque<std::string> texts;   // the text of every file read, which the tokens view
    std::deque<std::string> owned;   // token texts that are no run of a file's text
    std::vector<CobolToken> tokens;    // the words of the copybook and its members, in order
    std::vector<std::string> remarks;  // texts of the remarks the tokens refer to
    std::vector<CobolEntry> entries;   // runs of `tokens`
    std::deque<CobolItemInfo> infos;  // one per parsed item, in order
    std::vector<CobolRecord> records;
    std::unordered_map<const CopyItem*, std::string> depending;
    std::unordered_map<const CopyItem*, int> occursMinimum;  // a DEPENDING ON table's least count, as `depending`
    std::deque<std::vector<CobolConditionValue>> conditionLists;  // kept with the list, as `depending`
    std::unordered_map<const CopyItem*, const std::vector<CobolConditionValue>*> conditions;
    std::unordered_map<const CopyItem*, CobolRenamesRange> renames;  // a level 66 to the items it renames
    long long recordLength = 0;
};

// The text of an entry for a message: its words joined by single blanks, at most 256 bytes.
std::string CobolEntryText(const CobolEntry& entry);

// Raises CCobolException with `message` at line `line` of file `file` of `work`.
[[noreturn]] void CobolRaiseAt(const CobolWork& work, int file, int line, const std::string& entryText,
                               const std::string& message, int codeLine);
#define COBOL_RAISE(work, file, line, entryText, message) \
    CobolRaiseAt((work), (file), (line), (entryText), (message), __LINE__)

// ASCII upper case of a word.
std::string CobolUpper(std::string_view word);

// Whether `word` is `keyword` (written in upper case), ASCII letters in either case.
bool IsCobolWord(std::string_view word, const char* keyword);

// A word in upper case for keyword look-ups, without an allocation. A word longer than
// any keyword, or with a NUL byte, is kept empty, which matches none.
class CobolKey {
public:
    explicit CobolKey(std::string_view word);
    CobolKey() = default;
    std::string_view view() const { return std::string_view(text_, size_); }
    const char* c_str() const { return text_; }
    bool operator==(const char* keyword) const { return view() == keyword; }
    bool operator!=(const char* keyword) const { return view() != keyword; }

private:
    char text_[24] = {};
    std::size_t size_ = 0;
};

// Keeps `text` for the analysis' lifetime and returns a view of it (a token's own text).
std::string_view CobolOwn(CobolWork& work, std::string text);

// Reads the file named `fileName` with its COPY members into `work.tokens`.
void CobolLoadTokens(CobolWork& work, const char* fileName, const CobolOptions& options,
                     std::vector<CobolWarning>& warnings);
// Splits `work.tokens` into `work.entries`.
void CobolSplitEntries(CobolWork& work, std::vector<CobolWarning>& warnings);

#endif
