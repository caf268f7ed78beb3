// Entry parsing of the COBOL-rules analysis: one CopyItem per data description entry,
// through three tables: the clause table (keyword -> handler), the usage table and the
// PICTURE symbol table. Clauses may come in any order.
#include <algorithm>
#include <cstring>

#include "cobol_internal.h"
#include "keywords.h"
#include "textrules.h"

namespace {

// ---------------------------------------------------------------------------------
// PICTURE symbols

enum class Sym { Alpha, Alnum, Digit, Sign, Point, Scale, Insert, Comma, Dot, PlusMinus, CrDb, Suppress, Currency, Exponent, National, Dbcs, Boolean };

struct PictureSymbol {
    char symbol;   // upper case
    Sym kind;
    int width;     // character positions per occurrence
};

const PictureSymbol kPictureSymbols[] = {
    {'A', Sym::Alpha, 1},     {'X', Sym::Alnum, 1},     {'9', Sym::Digit, 1},    {'S', Sym::Sign, 0},
    {'V', Sym::Point, 0},     {'P', Sym::Scale, 0},     {'B', Sym::Insert, 1},   {'0', Sym::Insert, 1},
    {'/', Sym::Insert, 1},    {',', Sym::Comma, 1},     {'.', Sym::Dot, 1},      {'+', Sym::PlusMinus, 1},
    {'-', Sym::PlusMinus, 1}, {'Z', Sym::Suppress, 1},  {'*', Sym::Suppress, 1}, {'$', Sym::Currency, 1},
    {'\\', Sym::Currency, 1}, {'E', Sym::Exponent, 1},  {'N', Sym::National, 1}, {'G', Sym::Dbcs, 1},
    {'1', Sym::Boolean, 1},
};

const PictureSymbol* FindSymbol(char c) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (const PictureSymbol& s : kPictureSymbols)
        if (s.symbol == c) return &s;
    return nullptr;
}

struct PictureResult {
    int size = 0, digits = 0, scale = 0;
    int nationalBytes = 0;  // an N or G picture: its bytes as a national or DBCS item
    unsigned flags = 0;
    bool national = false, numeric = false;
    bool impliesNational = false;  // N (not G): USAGE NATIONAL unless a USAGE clause says otherwise
    std::string error;
};

PictureResult AnalyzePicture(const std::string& picture) {
    PictureResult r;
    struct Run { Sym kind; char symbol; long long count; };
    std::vector<Run> runs;
    for (std::size_t i = 0; i < picture.size();) {
        char c = picture[i];
        int width = 1;
        Sym kind;
        char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        if ((upper == 'C' || upper == 'D') && i + 1 < picture.size()) {
            char next = picture[i + 1];
            if (next >= 'a' && next <= 'z') next = static_cast<char>(next - 'a' + 'A');
            if ((upper == 'C' && next == 'R') || (upper == 'D' && next == 'B')) {
                runs.push_back({Sym::CrDb, upper, 1});
                i += 2;
                continue;
            }
        }
        const PictureSymbol* symbol = FindSymbol(c);
        if (symbol == nullptr) {
            r.error = std::string("PICTURE に使えない文字 '") + c + "' があります。";
            return r;
        }
        kind = symbol->kind;
        width = 1;
        ++i;
        long long count = width;
        if (i < picture.size() && picture[i] == '(') {
            std::size_t close = picture.find(')', i);
            if (close == std::string::npos || close == i + 1) {
                r.error = "PICTURE の繰返し数 (n) が正しくありません。";
                return r;
            }
            long long n = 0;
            for (std::size_t k = i + 1; k < close; ++k) {
                if (picture[k] < '0' || picture[k] > '9' || n > 100000000) {
                    r.error = "PICTURE の繰返し数 (n) が正しくありません。";
                    return r;
                }
                n = n * 10 + (picture[k] - '0');
            }
            if (n < 1) {
                r.error = "PICTURE の繰返し数 (n) が正しくありません。";
                return r;
            }
            count = n;
            i = close + 1;
        }
        if (!runs.empty() && runs.back().symbol == upper && kind != Sym::CrDb) runs.back().count += count;
        else runs.push_back({kind, upper, count});
    }
    if (runs.empty()) {
        r.error = "PICTURE の文字列がありません。";
        return r;
    }
    long long counts[17] = {};
    for (const Run& run : runs) counts[static_cast<int>(run.kind)] += run.count;
    auto has = [&](Sym s) { return counts[static_cast<int>(s)] > 0; };
    // The symbols that may stand only once, or only first.
    if (counts[static_cast<int>(Sym::Point)] + counts[static_cast<int>(Sym::Dot)] > 1) {
        r.error = "PICTURE に小数点が二つあります。";
        return r;
    }
    if (counts[static_cast<int>(Sym::Sign)] > 1 || (has(Sym::Sign) && runs.front().kind != Sym::Sign)) {
        r.error = "PICTURE の S は先頭に一つだけ書けます。";
        return r;
    }
    if (counts[static_cast<int>(Sym::CrDb)] > 1 || (has(Sym::CrDb) && runs.back().kind != Sym::CrDb)) {
        r.error = "PICTURE の CR と DB は末尾に一つだけ書けます。";
        return r;
    }
    // Character positions and digit positions. The digits of a floating-point picture
    // are those of its mantissa: the exponent's sign and digits count as none.
    bool afterPoint = false, seenDigit = false, exponent = false;
    long long plus = 0, minus = 0, currency = 0, leadingScale = 0, trailingScale = 0, digits = 0, scale = 0;
    long long size = 0;
    for (const Run& run : runs) {
        switch (run.kind) {
        case Sym::CrDb: size += 2; break;
        case Sym::Sign: case Sym::Point: break;
        case Sym::Scale:
            if (seenDigit && !afterPoint) trailingScale += run.count;
            else leadingScale += run.count;
            break;
        case Sym::National: case Sym::Dbcs: size += run.count; break;
        case Sym::Dot:
            size += run.count;
            afterPoint = true;
            break;
        default: size += run.count;
        }
        if (run.kind == Sym::Point) afterPoint = true;
        if (run.kind == Sym::Exponent) exponent = true;
        if (exponent) continue;
        if (run.kind == Sym::Digit || run.kind == Sym::Suppress) {
            digits += run.count;
            if (afterPoint) scale += run.count;
            seenDigit = true;
        }
        if (run.kind == Sym::PlusMinus || run.kind == Sym::Currency) {
            long long& total = run.kind == Sym::Currency ? currency : (run.symbol == '+' ? plus : minus);
            // A floating string: every symbol after the first stands for a digit.
            long long digitPositions = total == 0 ? run.count - 1 : run.count;
            if (seenDigit && total == 0) digitPositions = 0;  // a trailing sign
            total += run.count;
            digits += digitPositions;
            if (afterPoint) scale += digitPositions;
            if (digitPositions > 0) seenDigit = true;
        }
    }
    // A floating-point picture (sign, mantissa with '.' or V, E, sign, exponent): IBM
    // counts each of its characters but V, the '.' being an actual point. GnuCOBOL 3.1.2,
    // the reference, accepts one only with '+' after the E and without V, and then
    // gives the E no byte; this follows it there. Where it refuses the picture ('-'
    // after the E, or a V), IBM's count stands.
    if (has(Sym::Exponent)) {
        bool referenceAccepts = !has(Sym::Point);
        for (std::size_t k = 0; k < runs.size(); ++k)
            if (runs[k].kind == Sym::Exponent && (k + 1 == runs.size() || runs[k + 1].symbol != '+')) referenceAccepts = false;
        if (referenceAccepts) size -= counts[static_cast<int>(Sym::Exponent)];
    }
    if (size > 0x7fffffff / 4 || digits > 0x7fffffff / 4 || leadingScale + trailingScale > 0x7fffffff / 4) {
        r.error = "PICTURE が長すぎます。";
        return r;
    }
    r.size = static_cast<int>(size);
    r.digits = static_cast<int>(digits);
    // Scaling positions P: to the left of the digits they move the assumed point left
    // (PPP99 is .00099), to the right they stand for zeros (9(3)PPP).
    r.scale = static_cast<int>(leadingScale > 0 ? leadingScale + digits : scale - trailingScale);
    // Category.
    const bool editing = has(Sym::Insert) || has(Sym::Comma) || has(Sym::Dot) || has(Sym::PlusMinus) ||
                         has(Sym::CrDb) || has(Sym::Suppress) || has(Sym::Currency);
    if (has(Sym::Boolean)) {
        r.flags = ITEM_BOOLEAN;
        r.digits = r.size;
    } else if (has(Sym::National) || has(Sym::Dbcs)) {
        r.flags = ITEM_NATIONAL | ((has(Sym::Insert)) ? ITEM_EDITED : 0);
        r.national = true;
        r.digits = r.size;
        r.scale = 0;
        // A G (DBCS) picture takes two bytes per position, B 0 / included, as IBM counts
        // them (GnuCOBOL refuses G). An N picture takes two bytes per N and one per
        // B 0 /: that follows the reference (GnuCOBOL), where IBM would count two.
        r.impliesNational = !has(Sym::Dbcs);
        const long long inserts = r.impliesNational ? counts[static_cast<int>(Sym::Insert)] : 0;
        r.nationalBytes = static_cast<int>(2 * size - inserts);
    } else if (has(Sym::Alnum) || has(Sym::Alpha)) {
        r.flags = ITEM_ALPHANUMERIC;
        if (has(Sym::Insert)) r.flags |= ITEM_EDITED;
        else if (!has(Sym::Alnum) && !has(Sym::Digit)) r.flags |= ITEM_ALPHABETIC;
        r.digits = r.size;
        r.scale = 0;
    } else if (has(Sym::Exponent) || editing) {
        r.flags = ITEM_NUMERIC | ITEM_EDITED;
    } else {
        r.flags = ITEM_NUMERIC | (has(Sym::Sign) ? ITEM_SIGNED : 0);
        r.numeric = true;
    }
    if ((r.flags & ITEM_NUMERIC) && digits + leadingScale + trailingScale > 38) {
        r.error = "数字項目の桁数は38桁までです。";
        return r;
    }
    if (r.size == 0) {
        r.error = "PICTURE に桁がありません。";
        return r;
    }
    return r;
}

// ---------------------------------------------------------------------------------
// Usages

// The usage words: those of the copybook dialect (COPYBOOK_KEYWORDS, the base of this
// table) and the ones only these rules know. A word of this table gives its CobolUsage
// as its kind's offset from KEYWORD_EXTENSION; a base word gives it by its flag.
constexpr int UsageKind(CobolUsage usage) { return KEYWORD_EXTENSION + static_cast<int>(usage); }

const Keyword kCobolUsageWords[] = {
    {"DISPLAY", UsageKind(CobolUsage::Display), 0},
    {"DISPLAY-1", UsageKind(CobolUsage::Display1), 0},  // DBCS, which is no national usage
    {"NATIONAL", UsageKind(CobolUsage::National), USAGE_NATIONAL},
    {"COMP-X", UsageKind(CobolUsage::CompX), USAGE_BINARY | USAGE_COMPX},
    {"COMPUTATIONAL-X", UsageKind(CobolUsage::CompX), USAGE_BINARY | USAGE_COMPX},
    {"FLOAT-SHORT", UsageKind(CobolUsage::Float), USAGE_FLOAT},
    {"FLOAT-LONG", UsageKind(CobolUsage::Double), USAGE_DOUBLE},
    {"POINTER", UsageKind(CobolUsage::Pointer), USAGE_POINTER},
    {"PROCEDURE-POINTER", UsageKind(CobolUsage::Pointer), USAGE_POINTER},
    {"FUNCTION-POINTER", UsageKind(CobolUsage::Pointer), USAGE_POINTER},
    {"INDEX", UsageKind(CobolUsage::Index), USAGE_INDEX},
    {"BINARY-CHAR", UsageKind(CobolUsage::BinaryChar), USAGE_COMP5},
    {"BINARY-SHORT", UsageKind(CobolUsage::BinaryShort), USAGE_COMP5},
    {"BINARY-LONG", UsageKind(CobolUsage::BinaryLong), USAGE_COMP5},
    {"BINARY-DOUBLE", UsageKind(CobolUsage::BinaryDouble), USAGE_COMP5},
};

const KeywordTable COBOL_USAGE_KEYWORDS = {kCobolUsageWords, sizeof kCobolUsageWords / sizeof kCobolUsageWords[0],
                                           &COPYBOOK_KEYWORDS};

// The usage entry of `upper`; null for a word that is no usage (PIC, OCCURS and the
// other base keywords included).
const Keyword* FindUsage(const CobolKey& upper) {
    const Keyword* entry = COBOL_USAGE_KEYWORDS.Find(upper.c_str());
    if (entry == nullptr) return nullptr;
    if (entry->kind == KEYWORD_USAGE || entry->kind == KEYWORD_FLOATING || entry->kind >= KEYWORD_EXTENSION) {
        return entry;
    }
    return nullptr;
}

// The CobolUsage of an entry that FindUsage found.
CobolUsage UsageOf(const Keyword& entry) {
    if (entry.kind >= KEYWORD_EXTENSION) return static_cast<CobolUsage>(entry.kind - KEYWORD_EXTENSION);
    switch (entry.flag) {
    case USAGE_BINARY: return CobolUsage::Binary;
    case USAGE_PACKED: return CobolUsage::Packed;
    case USAGE_COMP5: return CobolUsage::Comp5;
    case USAGE_FLOAT: return CobolUsage::Float;
    case USAGE_DOUBLE: return CobolUsage::Double;
    default: return CobolUsage::Bit;  // USAGE_BIT, the base's last usage word
    }
}

// The entry of `table` whose keyword (the member `key`) is `upper`, through a hash map
// made once per table.
template <typename Entry, std::size_t N>
const Entry* Lookup(const Entry (&table)[N], const char* Entry::*key, std::string_view upper) {
    static const std::unordered_map<std::string_view, const Entry*> map = [&] {
        std::unordered_map<std::string_view, const Entry*> m;
        for (const Entry& e : table) m.emplace(e.*key, &e);
        return m;
    }();
    auto found = map.find(upper);
    return found != map.end() ? found->second : nullptr;
}


// ---------------------------------------------------------------------------------
// Clauses

struct Cursor {
    CobolWork& work;
    const CobolEntry& entry;
    std::size_t i;
    CobolItemInfo& info;
    CopyItem* item;
    std::vector<CobolWarning>& warnings;

    bool AtEnd() const { return i >= entry.tokens.size(); }
    const CobolToken& Peek() const { return entry.tokens[i]; }
    CobolKey PeekUpper() const { return AtEnd() || Peek().kind != CobolToken::Word ? CobolKey() : CobolKey(Peek().text); }
    bool Accept(const char* word) {
        if (!AtEnd() && Peek().kind == CobolToken::Word && IsCobolWord(Peek().text, word)) {
            ++i;
            return true;
        }
        return false;
    }
    [[noreturn]] void Fail(const std::string& message) const {
        const CobolToken& at = AtEnd() ? entry.tokens.back() : Peek();
        COBOL_RAISE(work, at.file, at.line, CobolEntryText(entry), message);
    }
    std::string_view Word(const char* what) {
        if (AtEnd() || Peek().kind != CobolToken::Word) Fail(std::string(what) + " がありません。");
        return entry.tokens[i++].text;
    }
    // An OCCURS count: digits only, and no more than the items an analysis may make.
    int Number(const char* what) {
        std::string_view w = Word(what);
        long long n = 0;
        for (char c : w) {
            if (c < '0' || c > '9') Fail(std::string(what) + " は正の整数で書いてください: " + std::string(w));
            if (n <= MAX_LIST_ITEMS) n = n * 10 + (c - '0');
        }
        if (n > MAX_LIST_ITEMS)
            Fail(std::string(what) + " " + std::string(w) + " は項目数の上限 8,388,608 を超えています。");
        return static_cast<int>(n);
    }
};

bool IsClauseWord(const CobolKey& upper);

bool IsFigurative(const CobolKey& upper) {
    static const char* const kWords[] = {"ZERO", "ZEROS", "ZEROES", "SPACE", "SPACES", "HIGH-VALUE", "HIGH-VALUES",
                                         "LOW-VALUE", "LOW-VALUES", "QUOTE", "QUOTES", "NULL", "NULLS"};
    for (const char* w : kWords)
        if (upper == w) return true;
    return false;
}

bool IsNumericLiteral(std::string_view text) {
    std::size_t i = (text.size() > 1 && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
    bool digit = false;
    for (; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9') digit = true;
        else if (text[i] != '.' && text[i] != ',') return false;
    }
    return digit;
}

// VALUE [IS] / VALUES [ARE] literal [THRU literal] ...: for a level 88 the literals as
// written go into `picture`; elsewhere the one literal is checked and passed over.
bool AtLiteral(const Cursor& c) {
    if (c.AtEnd()) return false;
    const CobolToken& t = c.Peek();
    if (t.kind == CobolToken::Literal) return true;
    return t.kind == CobolToken::Word && (IsNumericLiteral(t.text) || IsFigurative(CobolKey(t.text)));
}

void ClauseValue(Cursor& c) {
    c.Accept("IS");
    c.Accept("ARE");
    // The words as written (only as many as the item's text keeps) and, for a level 88,
    // every value.
    std::string text;
    auto take = [&c, &text]() {
        std::string_view word = c.entry.tokens[c.i++].text;
        if (text.size() >= sizeof c.item->picture) return word;
        if (!text.empty()) text += ' ';
        text += word;
        return word;
    };
    auto literal = [&c, &take]() {
        std::string value;
        if (c.PeekUpper() == "ALL") value = std::string(take()) + ' ';
        if (!AtLiteral(c)) c.Fail("VALUE の後に定数がありません。");
        value += take();
        return value;
    };
    std::vector<CobolConditionValue> values;
    if (c.item->level == 88) values.reserve(c.entry.tokens.size() - c.i);  // at most one a word
    values.emplace_back().value = literal();
    if (c.item->level == 88) {
        for (;;) {
            const CobolKey upper = c.PeekUpper();
            if (upper == "THRU" || upper == "THROUGH") {
                take();
                values.back().thru = literal();
            } else if (AtLiteral(c) || upper == "ALL") {
                values.emplace_back().value = literal();
            } else if (upper == "WHEN") {
                // WHEN SET TO FALSE [IS] literal
                take();
                c.Accept("SET");
                c.Accept("TO");
                if (!c.Accept("FALSE")) c.Fail("WHEN SET TO FALSE の書き方が正しくありません。");
                c.Accept("IS");
                CobolConditionValue& value = values.emplace_back();
                value.value = literal();
                value.whenFalse = true;
            } else {
                break;
            }
        }
        CopyTextCut(c.item->picture, sizeof c.item->picture, text.c_str());
        c.info.conditionValues = static_cast<int>(c.work.conditionLists.size());
        c.work.conditionLists.push_back(std::move(values));
    }
}

void ClausePicture(Cursor& c) {
    c.Accept("IS");
    if (c.AtEnd() || c.Peek().kind != CobolToken::Word) c.Fail("PICTURE の文字列がありません。");
    if (c.info.hasPicture) c.Fail("PICTURE 句が二つあります。");
    const std::string picture(c.entry.tokens[c.i++].text);
    PictureResult r = AnalyzePicture(picture);
    if (!r.error.empty()) {
        --c.i;
        c.Fail(r.error + " (" + picture + ")");
    }
    c.info.hasPicture = true;
    c.info.pictureSize = r.size;
    c.info.pictureDigits = r.digits;
    c.info.nationalPicture = r.national;
    c.info.nationalBytes = r.nationalBytes;
    c.info.impliesNational = r.impliesNational;
    c.info.numericPicture = r.numeric;
    c.item->flags |= r.flags;
    c.info.usageFlags &= ~r.flags;  // a sign of the PICTURE stays when a later USAGE replaces the usage
    c.item->digits = r.digits;
    c.item->scale = r.scale;
    std::strncpy(c.item->picture, picture.c_str(), sizeof c.item->picture - 1);
    c.item->picture[sizeof c.item->picture - 1] = '\0';
}

// The usage word just read (bare or after USAGE [IS]). A second USAGE clause in one
// entry replaces the first, with a warning, as GnuCOBOL takes it: the flags hold one
// usage only.
void SetUsage(Cursor& c, const Keyword& entry) {
    const CobolToken& word = c.entry.tokens[c.i - 1];
    if (c.info.usageClause) {
        c.item->flags &= ~c.info.usageFlags;
        CobolWarning warning;
        warning.fileName = c.work.files[word.file];
        warning.line = word.line;
        const std::string item = c.item->name[0] != '\0' ? std::string("項目 ") + c.item->name + " の" : std::string();
        warning.message = item + "USAGE 句が重複しています（duplicate USAGE clause）。後の " + std::string(word.text) +
                          " を採ります。";
        c.warnings.push_back(warning);
    }
    c.info.usageClause = true;
    const unsigned before = c.item->flags;
    const CobolUsage usage = UsageOf(entry);
    c.info.usage = usage;
    c.item->flags |= entry.flag;
    // BINARY-CHAR and the like are signed unless they say UNSIGNED.
    if (usage == CobolUsage::BinaryChar || usage == CobolUsage::BinaryShort || usage == CobolUsage::BinaryLong ||
        usage == CobolUsage::BinaryDouble) {
        if (!c.Accept("UNSIGNED")) {
            c.Accept("SIGNED");
            c.item->flags |= ITEM_SIGNED;
        }
    }
    c.info.usageFlags = c.item->flags & ~before;
}

void ClauseUsage(Cursor& c) {
    c.Accept("IS");
    std::string_view word = c.Word("USAGE の種類");
    const Keyword* u = FindUsage(CobolKey(word));
    if (u == nullptr) {
        --c.i;
        c.Fail("USAGE " + std::string(word) + " は使えません。");
    }
    SetUsage(c, *u);
}

void ClauseRedefines(Cursor& c) {
    if (c.item->level == 66 || c.item->level == 88) c.Fail("この項目に REDEFINES は書けません。");
    c.info.redefinesName = c.Word("REDEFINES の対象の名前");
}

// Names after KEY IS / INDEXED BY: up to the next clause keyword.
void SkipNames(Cursor& c) {
    while (!c.AtEnd() && c.Peek().kind == CobolToken::Word) {
        const CobolKey upper = c.PeekUpper();
        if (IsClauseWord(upper) || upper == "ASCENDING" || upper == "DESCENDING" || upper == "INDEXED") break;
        ++c.i;
    }
}

// OF|IN name ... after a data name: the qualification, which the names here do not need.
std::vector<std::string> Qualifiers(Cursor& c) {
    std::vector<std::string> names;
    while (c.Accept("OF") || c.Accept("IN")) names.emplace_back(c.Word("修飾の名前"));
    return names;
}

void SkipQualifiers(Cursor& c) { Qualifiers(c); }

void ClauseOccurs(Cursor& c) {
    if (c.item->level == 1 || c.item->level == 77 || c.item->level == 66 || c.item->level == 88)
        c.Fail("レベル " + std::to_string(c.item->level) + " の項目に OCCURS は書けません。");
    // A second OCCURS would silently replace the first: which count is meant is unknown.
    if (c.info.occursMax > 0) c.Fail("OCCURS が一つの記述項に二つあります。");
    int first = c.Number("OCCURS の回数");
    int min = first, max = first;
    if (c.Accept("TO")) {
        max = c.Number("OCCURS の最大回数");
        if (max < min) c.Fail("OCCURS の最大回数が最小回数より小さくなっています。");
    }
    if (max < 1) c.Fail("OCCURS の回数は1以上にしてください。");
    c.Accept("TIMES");
    if (c.Accept("DEPENDING")) {
        c.Accept("ON");
        if (max > MAX_VARIABLE_OCCURS)
            c.Fail("OCCURS ... DEPENDING ON の最大回数 " + std::to_string(max) + " は上限 " +
                   std::to_string(MAX_VARIABLE_OCCURS) + " を超えています。");
        c.info.dependingOn = c.Word("DEPENDING ON の項目名");
        SkipQualifiers(c);
        c.info.variable = true;
    } else if (min != max) {
        c.Fail("OCCURS m TO n には DEPENDING ON が必要です。");
    }
    for (;;) {
        if (c.Accept("ASCENDING") || c.Accept("DESCENDING")) {
            c.Accept("KEY");
            c.Accept("IS");
            SkipNames(c);
        } else if (c.Accept("INDEXED")) {
            c.Accept("BY");
            SkipNames(c);
        } else {
            break;
        }
    }
    c.info.occursMin = min;
    c.info.occursMax = max;
    c.item->occursCount = max;
    c.item->dimension = -1;
}

void ClauseSignWords(Cursor& c) {
    if (c.Accept("LEADING")) c.info.sign = 1;
    else if (c.Accept("TRAILING")) c.info.sign = 2;
    else c.Fail("SIGN の後に LEADING か TRAILING を書いてください。");
    if (c.Accept("SEPARATE")) {
        c.info.separate = true;
        c.Accept("CHARACTER");
    }
}

void ClauseSign(Cursor& c) {
    c.Accept("IS");
    ClauseSignWords(c);
}

void ClauseLeadingTrailing(Cursor& c) {
    --c.i;
    ClauseSignWords(c);
}

void ClauseSync(Cursor& c) {
    c.info.sync = true;
    if (!c.Accept("LEFT")) c.Accept("RIGHT");
}

void ClauseJustified(Cursor& c) { c.Accept("RIGHT"); }

void ClauseBlank(Cursor& c) {
    c.Accept("WHEN");
    if (!(c.Accept("ZERO") || c.Accept("ZEROS") || c.Accept("ZEROES"))) c.Fail("BLANK WHEN の後に ZERO を書いてください。");
}

void ClauseNothing(Cursor&) {}

void ClauseGroupUsage(Cursor& c) {
    c.Accept("IS");
    if (!c.Accept("NATIONAL")) c.Fail("GROUP-USAGE の後に NATIONAL を書いてください。");
    c.info.usage = CobolUsage::National;
    c.item->flags |= USAGE_NATIONAL;
}

void ClauseRenames(Cursor& c) {
    if (c.item->level != 66) c.Fail("RENAMES はレベル66の項目にだけ書けます。");
    c.info.renamesFrom = c.Word("RENAMES の対象の名前");
    c.info.renamesFromOf = Qualifiers(c);
    std::string text = "RENAMES " + c.info.renamesFrom;
    if (c.Accept("THRU") || c.Accept("THROUGH")) {
        c.info.renamesThru = c.Word("THRU の後の名前");
        c.info.renamesThruOf = Qualifiers(c);
        text += " THRU " + c.info.renamesThru;
    }
    // Long names may not fit: cut between characters, never inside a double-byte one.
    CopyTextCut(c.item->picture, sizeof c.item->picture, text.c_str());
}

struct Clause {
    const char* keyword;
    void (*handler)(Cursor&);
};

const Clause kClauses[] = {
    {"PIC", ClausePicture},          {"PICTURE", ClausePicture},    {"USAGE", ClauseUsage},
    {"VALUE", ClauseValue},          {"VALUES", ClauseValue},       {"REDEFINES", ClauseRedefines},
    {"OCCURS", ClauseOccurs},        {"SIGN", ClauseSign},          {"LEADING", ClauseLeadingTrailing},
    {"TRAILING", ClauseLeadingTrailing}, {"SYNC", ClauseSync},      {"SYNCHRONIZED", ClauseSync},
    {"JUST", ClauseJustified},       {"JUSTIFIED", ClauseJustified}, {"BLANK", ClauseBlank},
    {"GLOBAL", ClauseNothing},       {"EXTERNAL", ClauseNothing},   {"IS", ClauseNothing},
    {"GROUP-USAGE", ClauseGroupUsage}, {"RENAMES", ClauseRenames},
};

const Clause* FindClause(const CobolKey& upper) { return Lookup(kClauses, &Clause::keyword, upper.view()); }

bool IsClauseWord(const CobolKey& upper) { return FindClause(upper) != nullptr || FindUsage(upper) != nullptr; }

// Copies a token's text into a fixed item field, cut to fit between characters.
void CopyTokenText(char* field, std::size_t capacity, std::string_view text) {
    const std::size_t n = ShiftJisCutLength(text.data(), text.size(), capacity - 1, false);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

bool AllDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

void CobolAnalyzer::ParseEntries() {
    for (std::size_t e = 0; e < work->entries.size(); ++e) {
        const CobolEntry& entry = work->entries[e];
        const CobolToken& first = entry.tokens.front();
        const CobolKey upper(first.text);
        // File, sort and report descriptions, section and division headers describe no record storage.
        if (upper == "FD" || upper == "SD" || upper == "RD" || upper == "CD") continue;
        if (entry.tokens.size() >= 2) {
            const CobolKey second(entry.tokens[1].text);
            if (second == "SECTION" || second == "DIVISION") continue;
        }
        if (first.kind != CobolToken::Word || !AllDigits(first.text))
            COBOL_RAISE(*work, first.file, first.line, CobolEntryText(entry),
                        "データ記述項はレベル番号で始めてください: " + std::string(first.text));
        int level = 100;  // any level number of more than two digits is out of range
        if (first.text.size() <= 2) {
            level = 0;
            for (char digit : first.text) level = level * 10 + (digit - '0');
        }
        if (!((level >= 1 && level <= 49) || level == 66 || level == 77 || level == 88))
            COBOL_RAISE(*work, first.file, first.line, CobolEntryText(entry),
                        "レベル番号 " + std::string(first.text) + " は使えません（01-49, 66, 77, 88）。");
        CopyItem* item = nullptr;
        BeginEntry(item);
        item->level = level;
        work->infos.emplace_back();
        CobolItemInfo& info = work->infos.back();
        info.item = item;
        info.level = level;
        info.entry = static_cast<int>(e);
        if (entry.remark >= 0) {
            std::strncpy(item->remark, work->remarks[entry.remark].c_str(), sizeof item->remark - 1);
            item->remark[sizeof item->remark - 1] = '\0';
        }
        Cursor c{*work, entry, 1, info, item, warnings};
        // The name: a word that is no clause keyword (FILLER included).
        if (!c.AtEnd() && c.Peek().kind == CobolToken::Word && !IsClauseWord(c.PeekUpper())) {
            // A NUL byte would end the name where it stands (two names would read alike);
            // a "/" or ".." would lead a file named after the record out of its folder.
            const std::string_view name = c.Peek().text;
            if (const char* fault = DataNameFault(name.data(), name.size())) c.Fail(fault);
            CopyTokenText(item->name, sizeof item->name, c.entry.tokens[c.i++].text);
        } else if (level == 66 || level == 88) {
            c.Fail("レベル " + std::to_string(level) + " の項目には名前が必要です。");
        }
        while (!c.AtEnd()) {
            const CobolToken& t = c.Peek();
            const CobolKey word = t.kind == CobolToken::Word ? CobolKey(t.text) : CobolKey();
            if (const Clause* clause = FindClause(word)) {
                ++c.i;
                clause->handler(c);
            } else if (const Keyword* u = FindUsage(word)) {
                ++c.i;
                SetUsage(c, *u);
            } else {
                c.Fail("解釈できない語があります: " + std::string(t.text));
            }
        }
        // PICTURE N without a USAGE clause is national.
        if (info.impliesNational && info.usage == CobolUsage::None) item->flags |= USAGE_NATIONAL;
        if (level == 88 && item->picture[0] == '\0') c.Fail("レベル88の項目には VALUE が必要です。");
        if (level == 66 && info.renamesFrom.empty()) c.Fail("レベル66の項目には RENAMES が必要です。");
        stage = 0;
    }
}
