// The entry parser: a stage machine over the joined entries, one entry per line.
//
// Stage 0 creates the item, 1 reads the level number, 2 the name, 3 the clauses up to
// the PICTURE clause, 4 the clauses after it, 5 ends the entry (EndEntry). Every
// handler cuts words into a 64-byte buffer, so a word keeps at most 63 bytes.
#include <climits>
#include <cstring>

#include "engine_internal.h"
#include "textrules.h"

namespace {

constexpr int kWordCapacity = 64;

// A decimal integer as a level number or an OCCURS count is written: an optional sign,
// then digits, reading up to the first other byte; no digit reads as 0. A number above
// the largest signed 32-bit value is refused with `tooLarge` rather than wrapped; a
// negative one that large reads as INT_MIN, which every caller refuses as below 1.
int ReadCount(const char* position, const char* tooLarge) {
    bool negative = false;
    if (*position == '+' || *position == '-') negative = *position++ == '-';
    long long value = 0;
    for (; IsDecimalDigit(*position); ++position) {
        value = value * 10 + (*position - '0');
        if (value > INT_MAX) {
            if (negative) return INT_MIN;
            RAISE(CException, tooLarge);
        }
    }
    return static_cast<int>(negative ? -value : value);
}

// Variable-length arrays are not supported: the word DEPENDING ends the analysis
// wherever it stands after the level number.
[[noreturn]] void RaiseDepending() {
    RAISE(CException, "DEPENDING指定の配列はサポートしていません。\n");
}

// COMP-1 and COMP-2 items take no PICTURE and are no groups.
bool HasFloatUsage(const CopyItem* item) {
    return HasUsage(item, StorageForm::kFloat) || HasUsage(item, StorageForm::kDouble);
}

}  // namespace

// Classifies a PICTURE character-string by its first byte and stores the analyser's
// counts in the item; the string itself is stored as written.
static void ClassifyPicture(CopyAnalyzer& analyzer, CopyItem* item, const char* picture) {
    switch (FoldByte(picture[0])) {
    case '9': case 'z': case '\\': case '$': case '+': case '-': {
        int result = analyzer.AnalyzeNumericPicture(picture);
        item->flags |= ITEM_NUMERIC;
        item->digits = result >> 8;
        item->scale = result & 0xFF;
        break;
    }
    case 's': {
        int result = analyzer.AnalyzeSignedPicture(picture);
        item->flags |= ITEM_NUMERIC | ITEM_SIGNED;
        item->digits = result >> 8;
        item->scale = result & 0xFF;
        break;
    }
    case 'x': case 'b':
        item->digits = analyzer.AnalyzeAlphanumericPicture(picture);
        item->flags |= ITEM_ALPHANUMERIC;
        break;
    case 'n': case 'g': case 'j':
        item->digits = analyzer.AnalyzeNationalPicture(picture);
        item->flags |= ITEM_NATIONAL;
        break;
    case '1':
        item->digits = analyzer.AnalyzeBooleanPicture(picture);
        item->flags |= ITEM_BOOLEAN;
        break;
    default:
        RAISE(CException, "認識できないデータ型");
    }
    CopyTextIn(item->picture, sizeof item->picture, picture);
}

// The REDEFINES clause, with the position at the word after REDEFINES: links the item
// to the nearest earlier item of the named name. Returns the position right after the
// name as cut.
static char* TakeRedefines(CopyAnalyzer& analyzer, CopyItem* item, char* position) {
    char target[kWordCapacity];
    position = analyzer.CutWord(position, target, kWordCapacity);
    if (target[0] == '\0') RAISE(CException, "共有領域項目名なし");
    CopyItem* found = FindRedefinesTarget(analyzer, item, target);
    if (found == nullptr) RAISE(CException, "共有領域項目名誤り");
    item->redefines = found;
    item->flags |= ITEM_REDEFINES;
    return position;
}

// The OCCURS clause, with the position at the count. The position is not moved.
static void TakeOccurs(CopyItem* item, const char* position) {
    // A second OCCURS would silently replace the first: which count is meant is unknown.
    if (item->flags & ITEM_ARRAY) RAISE(CException, "OCCURS が一つの記述項に二つあります。");
    item->occursCount = ReadCount(position, "レコード長が大きすぎます。");
    item->flags |= ITEM_ARRAY;
    item->dimension = -1;
    if (item->occursCount < 1) RAISE(CException, "配列要素数不当");
}

void CopyAnalyzer::ParseEntries() {
    ReleaseRedefinesIndex(redefinesIndex);
    if (sourceText == nullptr) return;
    char* position = sourceText;
    CopyItem* item = nullptr;
    while (*position != '\0') {
        stage = 0;
        while (*position != '\0' && *position != '\n') {
            switch (stage) {
            case 0: BeginEntry(item); break;
            case 1: position = ParseLevel(item, position); break;
            case 2: position = ParseName(item, position); break;
            case 3: position = ParseClauses(item, position); break;
            case 4: position = ParseTrailingClauses(item, position); break;
            case 5: position = EndEntry(item, position); break;
            default: RAISE(CException, "解析ステージ不当");
            }
        }
        // An entry whose period ends its line, or whose clauses run to the end of the
        // line, is ended here, so that its usage is checked like any other entry's.
        if (stage == 5) position = EndEntry(item, position);
        position = NextLine(position);
    }
    ReleaseRedefinesIndex(redefinesIndex);
}

bool CopyAnalyzer::ParseUsage(CopyItem* item, const char* word) {
    const Keyword* keyword = keywords->Find(word);
    if (keyword == nullptr || keyword->kind != KEYWORD_USAGE) return false;
    item->flags |= keyword->flag;
    return true;
}

void CopyAnalyzer::BeginEntry(CopyItem*& item) {
    try {
        item = NewItem();
        AppendItem(item);
        stage = 1;
    } catch (CMemoryException e) {
        e.AddLocation(__LINE__, COBCPY_MODULE);
        throw e;
    } catch (...) {
        RAISE(CException, "おそらくメモリ関係の例外。");
    }
}

char* CopyAnalyzer::ParseLevel(CopyItem* item, char* position) {
    position = SkipBlanks(position);
    char c = *position;
    if (IsEntryEnd(c) || c == '.' || (c == '*' && position[1] == '>')) {
        // The line holds no entry: its item is taken off the end of the list again.
        position = NextLine(position);
        if (item != nullptr) {
            if (item->prev != nullptr)
                item->prev->next = item->next;
            else if (head == item)
                head = item->next;
            if (item->next != nullptr)
                item->next->prev = item->prev;
            else if (tail == item)
                tail = item->prev;
            ReleaseBytes(item);
        }
        stage = 0;
        return position;
    }
    // A level number too large for 32 bits is outside 1 to 49 like any other.
    item->level = ReadCount(position, "レベル番号解析エラー");
    if (item->level < 1 || item->level > 49) RAISE(CException, "レベル番号解析エラー");
    position = SkipBlanks(SkipWord(position));
    if (*position == ';') RAISE(CException, "文法エラー？？？");
    stage = 2;
    return position;
}

char* CopyAnalyzer::ParseName(CopyItem* item, char* position) {
    if (IsEntryEnd(*position)) RAISE(CException, "項目名なし！！");
    char* wordStart = position;
    char word[kWordCapacity];
    position = SkipBlanks(SkipWord(CutWord(position, word, kWordCapacity)));
    const Keyword* keyword = keywords->Find(word);
    switch (keyword != nullptr ? keyword->kind : KEYWORD_ORDINARY) {
    case KEYWORD_PICTURE:
    case KEYWORD_REDEFINES:
        stage = 3;
        return wordStart;
    case KEYWORD_OCCURS:
        TakeOccurs(item, position);
        position = SkipBlanks(SkipWord(position));
        break;
    case KEYWORD_FLOATING:
        item->flags |= keyword->flag;
        break;
    case KEYWORD_DEPENDING:
        RaiseDepending();
    default:
        if (!ParseUsage(item, word)) {
            // A name with a control character, "/" or ".." is no name (see DataNameFault).
            if (const char* fault = DataNameFault(word, std::strlen(word))) RAISE(CException, fault);
            CopyTextIn(item->name, sizeof item->name, word);
        }
        break;
    }
    stage = 3;
    if (*position == ';') {
        stage = 5;
        if (!HasFloatUsage(item)) item->flags |= ITEM_GROUP;
        ++position;
    }
    return position;
}

char* CopyAnalyzer::ParseClauses(CopyItem* item, char* position) {
    char* wordStart = position;
    char word[kWordCapacity];
    position = SkipBlanks(SkipWord(CutWord(position, word, kWordCapacity)));
    const Keyword* keyword = keywords->Find(word);
    const int kind = keyword != nullptr ? keyword->kind : KEYWORD_ORDINARY;
    if (kind == KEYWORD_REDEFINES) {
        return SkipBlanks(SkipWord(TakeRedefines(*this, item, position)));
    }
    if (kind == KEYWORD_OCCURS) {
        TakeOccurs(item, position);
        return SkipBlanks(SkipWord(position));
    }
    if (ParseUsage(item, word)) return position;
    if (kind == KEYWORD_FLOATING) {
        item->flags |= keyword->flag;
        return position;
    }
    if (kind == KEYWORD_DEPENDING) RaiseDepending();
    if (kind == KEYWORD_PICTURE) {
        char picture[kWordCapacity];
        position = SkipBlanks(SkipWord(CutWord(position, picture, kWordCapacity)));
        ClassifyPicture(*this, item, picture);
    } else if (!HasFloatUsage(item)) {
        // The first ordinary word ends the clauses that may come before the PICTURE
        // clause; an item without a PICTURE by then is a group, and stage 4 reads the
        // word again.
        item->flags |= ITEM_GROUP;
        position = wordStart;
    }
    if (*position == ';') {
        stage = 5;
        ++position;
    } else {
        stage = 4;
    }
    return position;
}

char* CopyAnalyzer::ParseTrailingClauses(CopyItem* item, char* position) {
    char word[kWordCapacity];
    position = CutWord(position, word, kWordCapacity);
    if (!ParseUsage(item, word)) {
        // Any other word, PIC, PICTURE, COMP-1 and COMP-2 included, is passed over.
        switch (keywords->KindOf(word)) {
        case KEYWORD_REDEFINES:
            position = TakeRedefines(*this, item, SkipBlanks(SkipWord(position)));
            break;
        case KEYWORD_OCCURS:
            position = SkipBlanks(SkipWord(position));
            TakeOccurs(item, position);
            break;
        case KEYWORD_DEPENDING:
            RaiseDepending();
        default:
            break;
        }
    }
    position = SkipBlanks(SkipWord(position));
    if (IsEntryEnd(*position)) stage = 5;
    return position;
}
