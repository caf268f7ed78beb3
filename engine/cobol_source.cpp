// Source reading of the COBOL-rules analysis: the copybook's lines in fixed or free
// format become words (tokens) with their file and line, COPY statements are replaced
// by their members' words (with REPLACING applied), and the words are cut into entries
// at their separator periods.
//
// Fixed format: columns 1-6 sequence area, column 7 indicator ("*" "/" comment, "-"
// continuation, "D" "d" debugging line, skipped), program text in columns 8-72; tabs
// advance to the next multiple of 8 as GnuCOBOL expands them. Free format: the whole
// line is program text. In both, "*>" starts a comment that runs to the end of the line.
//
// The tokens are views into the files' texts, which the analysis keeps; only words
// joined over a continuation line, continued literals and replaced words get texts of
// their own.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <climits>
#include <filesystem>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "cobol_internal.h"

namespace {

constexpr int kMaxCopyDepth = 32;
constexpr int kTabStop = 8;

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldByte(a[i]) != FoldByte(b[i])) return false;
    return true;
}

// The first byte other than a space at or after `from`, or npos. Tab-expanded lines of
// copybooks are mostly spaces, so they are passed over eight bytes at a time.
std::size_t FirstNonSpace(std::string_view line, std::size_t from) {
    constexpr std::uint64_t kSpaces = 0x2020202020202020ULL;
    std::size_t i = from;
    for (; i + 8 <= line.size(); i += 8) {
        std::uint64_t block;
        std::memcpy(&block, line.data() + i, 8);
        if (block != kSpaces) break;
    }
    for (; i < line.size(); ++i)
        if (line[i] != ' ') return i;
    return std::string_view::npos;
}

// The next line of `text` from `start` (without its line feed) in `line`, `start` moved
// past it; false at the end of the text.
bool NextLine(std::string_view text, std::size_t& start, std::string_view& line) {
    if (start >= text.size()) return false;
    const void* lf = std::memchr(text.data() + start, '\n', text.size() - start);
    const std::size_t end = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - text.data()) : text.size();
    line = text.substr(start, end - start);
    start = end + 1;
    return true;
}

// Appends `line` to `out` with its tabs expanded (and its carriage returns dropped)
// when it has a tab or ends in a carriage return; as it is otherwise.
void AppendExpandedLine(std::string_view line, std::string& out) {
    const bool tab = std::memchr(line.data(), '\t', line.size()) != nullptr;
    if (!tab && (line.empty() || line.back() != '\r')) {
        out.append(line.data(), line.size());
        return;
    }
    const std::size_t lineStart = out.size();
    std::size_t from = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c != '\t' && c != '\r') continue;
        out.append(line.data() + from, i - from);
        if (c == '\t') out.append(kTabStop - (out.size() - lineStart) % kTabStop, ' ');
        from = i + 1;
    }
    out.append(line.data() + from, line.size() - from);
}

// The file's text with every line's tabs expanded, in `out`; false (and `out` left
// alone) when the text has no tab and no carriage return, which is the rule.
bool ExpandTabs(const std::string& text, std::string& out) {
    const bool cr = text.find('\r') != std::string::npos;
    if (!cr && text.find('\t') == std::string::npos) return false;
    out.clear();
    out.reserve(text.size() + text.size() / 2);
    if (cr) {
        std::size_t start = 0;
        std::string_view line;
        while (NextLine(text, start, line)) {
            AppendExpandedLine(line, out);
            if (start <= text.size()) out += '\n';
        }
        return true;
    }
    // Without carriage returns the text goes over from tab to tab, not line by line
    // (a quarter faster on tab-indented copybooks); a tab's width depends on its column,
    // counted from the last line feed before it.
    std::size_t lineStart = 0, from = 0;
    for (;;) {
        const void* tab = std::memchr(text.data() + from, '\t', text.size() - from);
        const std::size_t to = tab ? static_cast<std::size_t>(static_cast<const char*>(tab) - text.data()) : text.size();
        const std::size_t chunkStart = out.size();
        out.append(text.data() + from, to - from);
        if (tab == nullptr) return true;
        for (std::size_t k = out.size(); k > chunkStart; --k)
            if (out[k - 1] == '\n') {
                lineStart = k;
                break;
            }
        out.append(kTabStop - (out.size() - lineStart) % kTabStop, ' ');
        from = to + 1;
    }
}

// The lexer of one file: words, literals, "==" and periods, line by line.
class Lexer {
public:
    Lexer(CobolWork& work, int file, std::vector<CobolToken>& out) : work_(work), file_(file), out_(out) {}

    void Run(std::string_view text, bool freeFormat) {
        free_ = freeFormat;
        std::size_t start = 0;
        std::string_view raw;
        for (int lineNo = 1; NextLine(text, start, raw); ++lineNo) {
            // A comment line of fixed format, seen before anything else is done with it.
            if (!free_ && openQuote_ == 0 && raw.size() > 6 && (raw[6] == '*' || raw[6] == '/')) continue;
            Line(raw, lineNo);
        }
        if (openQuote_ != 0) Unterminated();
    }

private:
    void Line(std::string_view raw, int lineNo) {
        line_ = lineNo;
        std::string_view text;
        bool continuation = false;
        // Compiler directives: ">>SOURCE [FORMAT] [IS] FREE|FIXED"; others are passed over.
        // The first non-blank byte: of the line in free format, from the indicator column on
        // in fixed format (the sequence area is looked at only when the line is too short).
        std::size_t directiveAt = FirstNonSpace(raw, free_ ? 0 : 6);
        if (directiveAt != std::string::npos && raw.compare(directiveAt, 2, ">>") == 0) {
            Directive(raw.substr(directiveAt + 2));
            return;
        }
        if (free_) {
            if (directiveAt == 0 && raw[0] == '*') return;  // "*" in column 1
            text = raw;
        } else {
            if (raw.size() <= 6) {
                if (raw.find_first_not_of(' ') != std::string::npos) NoSequenceArea(raw);
                return;
            }
            const char indicator = raw[6];
            switch (indicator) {
            case '*': case '/': return;
            case 'D': case 'd': return;
            case '$': return;  // a Micro Focus directive line
            case '-': continuation = true; break;
            case ' ': break;
            default: NoSequenceArea(raw);
            }
            text = raw.size() > 7 ? raw.substr(7, 65) : std::string_view();
        }
        if (openQuote_ != 0 && !continuation) Unterminated();
        // Blanks before the first word are passed over at once (the indicator is a blank
        // here, so the first non-blank is inside the text or past it).
        std::size_t i = 0;
        if (!free_ && !continuation) i = directiveAt == std::string::npos ? text.size() : std::min(directiveAt - 7, text.size());
        if (continuation) {
            i = text.find_first_not_of(' ');
            if (i == std::string::npos) return;  // an empty continuation line
            if (openQuote_ != 0) {
                if (text[i] != openQuote_)
                    COBOL_RAISE(work_, file_, line_, std::string(text), "継続行の文字定数は引用符で始めてください。");
                ++i;
                const std::size_t from = i;
                ScanLiteral(text, i);
                Grow(text.substr(from, i - from));
            } else {
                joinNext_ = true;
            }
        }
        while (i < text.size()) {
            const char c = text[i];
            if (IsCobolSpace(c)) { ++i; joinNext_ = false; continue; }
            if ((c == ',' || c == ';') && (i + 1 == text.size() || IsCobolSpace(text[i + 1]))) { ++i; continue; }
            if (c == '*' && i + 1 < text.size() && text[i + 1] == '>') {
                // A comment right after an entry's period on its line is the entry's remark.
                if (!out_.empty() && out_.back().kind == CobolToken::Period && out_.back().line == line_) {
                    std::size_t from = text.find_first_not_of(" \t", i + 2);
                    std::size_t to = text.find_last_not_of(" \t");
                    if (from != std::string::npos) {
                        out_.back().remark = static_cast<int>(work_.remarks.size());
                        const std::size_t length = ShiftJisCutLength(text.data() + from, to + 1 - from, 63, false);
                        work_.remarks.push_back(std::string(text.substr(from, length)));
                    }
                }
                break;
            }
            if (c == '=' && i + 1 < text.size() && text[i + 1] == '=') {
                Push(CobolToken::PseudoDelimiter, text.substr(i, 2));
                i += 2;
                continue;
            }
            if (c == '.' && IsSeparatorPeriod(text, i)) {
                Push(CobolToken::Period, text.substr(i, 1));
                ++i;
                continue;
            }
            if (c == '"' || c == '\'') {
                OpenLiteral(text, i, i);
                continue;
            }
            // A word, up to a blank, a separator period or the start of a literal
            // (which then takes the word as its prefix: X"..", N"..").
            std::size_t start = i;
            while (i < text.size() && !IsCobolSpace(text[i])) {
                char d = text[i];
                if (d == '"' || d == '\'') break;
                if (d == '.' && IsSeparatorPeriod(text, i)) break;
                if ((d == ',' || d == ';') && (i + 1 == text.size() || IsCobolSpace(text[i + 1]))) break;
                if (d == '*' && i + 1 < text.size() && text[i + 1] == '>') break;
                if (d == '=' && i + 1 < text.size() && text[i + 1] == '=') break;
                ++i;
            }
            std::string_view word = text.substr(start, i - start);
            if (i < text.size() && (text[i] == '"' || text[i] == '\'') && word.size() <= 2 && !joinNext_) {
                OpenLiteral(text, start, i);
                continue;
            }
            if (joinNext_ && !out_.empty() && out_.back().kind == CobolToken::Word) {
                std::string joined(out_.back().text);
                joined += word;
                out_.back().text = CobolOwn(work_, std::move(joined));
            } else {
                Push(CobolToken::Word, word);
            }
            joinNext_ = false;
        }
        joinNext_ = false;
        // In fixed format a literal left open runs to column 72 and goes on in a
        // continuation line.
        if (openQuote_ != 0 && !free_) {
            const std::size_t padding = 65 - std::min<std::size_t>(text.size(), 65);
            Grow(std::string(padding, ' '));
        }
    }

    // Whether the period at `i` separates: at the end of the text, or before a blank, a
    // floating comment or the "==" that closes pseudo-text (==X(3).== matches the
    // period of an entry).
    static bool IsSeparatorPeriod(std::string_view text, std::size_t i) {
        if (i + 1 == text.size() || IsCobolSpace(text[i + 1])) return true;
        if (i + 2 >= text.size()) return false;
        return (text[i + 1] == '*' && text[i + 2] == '>') || (text[i + 1] == '=' && text[i + 2] == '=');
    }

    // A literal whose prefix starts at `start` and whose opening quote is at `i`: its
    // token, up to and including the closing quote on this line, `i` past it.
    void OpenLiteral(std::string_view text, std::size_t start, std::size_t& i) {
        openQuote_ = text[i];
        literalLine_ = line_;
        ++i;
        ScanLiteral(text, i);
        Push(CobolToken::Literal, text.substr(start, i - start));
        if (openQuote_ != 0) {
            // Left open: it goes on in a continuation line, so its text becomes its own.
            growing_ = &work_.owned.emplace_back(out_.back().text);
            out_.back().text = *growing_;
        }
    }

    // Moves `i` past the literal characters up to and including the closing quote (a
    // doubled quote stands for one and closes nothing), or to the end of the line.
    void ScanLiteral(std::string_view text, std::size_t& i) {
        for (;;) {
            const std::size_t quote = text.find(openQuote_, i);
            if (quote == std::string_view::npos) {
                i = text.size();
                return;
            }
            i = quote + 1;
            if (i < text.size() && text[i] == openQuote_) {
                ++i;
                continue;
            }
            openQuote_ = 0;
            return;
        }
    }

    // Appends to the open literal, whose text is its own.
    void Grow(std::string_view more) {
        growing_->append(more.data(), more.size());
        out_.back().text = *growing_;
    }

    void Push(CobolToken::Kind kind, std::string_view text) {
        CobolToken& token = out_.emplace_back();
        token.kind = kind;
        token.text = text;
        token.file = file_;
        token.line = line_;
        token.freeFormat = free_;
    }

    void Unterminated() {
        COBOL_RAISE(work_, file_, literalLine_, out_.empty() ? std::string() : std::string(out_.back().text),
                    "文字定数の終わりの引用符がありません。");
    }

    void NoSequenceArea(std::string_view raw) {
        COBOL_RAISE(work_, file_, line_, std::string(raw),
                    "固定形式の行ではありません（1-6桁目は一連番号、7桁目は標識 * / - D、"
                    "8-72桁目が本文です）。桁に合わない原始ファイルは自由形式で読んでください。");
    }

    void Directive(std::string_view rest) {
        std::string upper = CobolUpper(rest);
        if (upper.compare(0, 6, "SOURCE") != 0) return;
        if (upper.find("FREE") != std::string::npos) free_ = true;
        else if (upper.find("FIXED") != std::string::npos) free_ = false;
    }

    CobolWork& work_;
    int file_;
    std::vector<CobolToken>& out_;
    std::string* growing_ = nullptr;  // the text of the literal left open
    bool free_ = false;
    int line_ = 0;
    int literalLine_ = 0;
    char openQuote_ = 0;
    bool joinNext_ = false;
};

// A fixed-format file whose text starts in column 1 (no sequence area): its first
// line with program text begins before column 7 with a level number, COPY or a
// floating comment, which a sequence number never is.
bool LooksFreeFormat(std::string_view text) {
    std::size_t start = 0;
    std::string_view line;
    while (NextLine(text, start, line)) {
        std::size_t first = line.find_first_not_of(' ');
        if (first == std::string::npos) continue;
        if (first >= 6) return false;
        std::size_t end = line.find(' ', first);
        if (end == std::string::npos) end = line.size();
        if (end >= 6) return false;  // a sequence number, or a comment line's indicator
        std::string_view word = line.substr(first, end - first);
        bool level = word.size() <= 2 && std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
        return level || IsCobolWord(word, "COPY") || word.compare(0, 2, "*>") == 0;
    }
    return false;
}

// How reading a source file went.
enum class SourceRead { Done, Failed, TooLarge };

// The bytes of file `path` in `text`, up to the size the default analysis takes (under
// 2 GB); a device that never ends is stopped there too.
SourceRead ReadSourceFile(const std::string& path, std::string& text) {
    text.clear();
    std::FILE* file = OpenTextFile(path.c_str(), "r");
    if (file == nullptr) return SourceRead::Failed;
    constexpr std::size_t kLimit = static_cast<std::size_t>(INT_MAX) - 1;
    char block[65536];
    std::size_t got;
    SourceRead result = SourceRead::Done;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
        if (text.size() + got > kLimit) {
            result = SourceRead::TooLarge;
            break;
        }
        text.append(block, got);
    }
    if (result == SourceRead::Done && std::ferror(file)) result = SourceRead::Failed;
    std::fclose(file);
    return result;
}

// A count with thousands separators: 16,777,216.
std::string Grouped(std::size_t count) {
    std::string digits = std::to_string(count);
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

class Loader {
public:
    Loader(CobolWork& work, const CobolOptions& options, std::vector<CobolWarning>& warnings)
        : work_(work), options_(options), warnings_(warnings) {}

    // The words of the copybook itself.
    std::vector<CobolToken> Load(const std::string& path) {
        top_ = path;
        int nested = 0;
        std::vector<CobolToken> tokens = Load(path, -1, 0, 0, options_.freeFormat, nested);
        expansions_.clear();
        return tokens;
    }

private:
    // A member's words with its own COPY statements expanded (before the REPLACING of
    // the statement that copies it), and how many COPY levels deep it goes (0: it copies
    // nothing).
    struct Expansion {
        std::vector<CobolToken> tokens;
        int nested = 0;
    };

    // The words of file `path`, COPY statements expanded. `from` is the COPY statement's
    // place (file index and line) for messages, -1 for the copybook itself.
    // A member starts in the format in force at its COPY statement.
    std::vector<CobolToken> Load(const std::string& path, int fromFile, int fromLine, int depth, bool freeFormat,
                                 int& nested) {
        const int file = static_cast<int>(work_.files.size());
        work_.files.push_back(path);
        std::string& text = work_.texts.emplace_back();
        switch (ReadSourceFile(path, text)) {
        case SourceRead::Done:
            break;
        case SourceRead::Failed:
            if (fromFile < 0) COBOL_RAISE(work_, file, 0, "", "ファイルのオープンに失敗！！");
            COBOL_RAISE(work_, fromFile, fromLine, "COPY", "COPYメンバのファイルを開けません: " + path);
        case SourceRead::TooLarge:
            if (fromFile < 0) COBOL_RAISE(work_, file, 0, "", "ファイルが大きすぎます（2GB 未満まで）。");
            COBOL_RAISE(work_, fromFile, fromLine, "COPY", "COPYメンバのファイルが大きすぎます（2GB 未満まで）: " + path);
        }
        NormalizeSourceText(text);
        std::string expanded;
        if (ExpandTabs(text, expanded)) text.swap(expanded);
        if (!freeFormat && LooksFreeFormat(text)) {
            freeFormat = true;
            CobolWarning warning;
            warning.fileName = path;
            warning.line = 1;
            warning.message = "1-6桁目に本文があるため自由形式として読みました。";
            warnings_.push_back(warning);
        }
        std::vector<CobolToken> raw;
        raw.reserve(text.size() / 16);
        Lexer(work_, file, raw).Run(text, freeFormat);
        if (!options_.replacements.empty())
            for (CobolToken& token : raw)
                if (token.kind == CobolToken::Word) ApplyOptionReplacements(token);
        return ExpandCopies(raw, path, depth, nested);
    }

    // Members copied again and again (each COPYing others several times), or REPLACING
    // that puts several words for one, could multiply the text beyond any record: a
    // bound on the words the copybook and its members make, counted as they come out
    // (after REPLACING). Refused at `file` and `line`, the COPY statement or the word
    // that goes beyond it.
    void CheckProduced(std::size_t words, int file, int line, const std::string& entryText) {
        if (words > options_.maxCopiedWords)
            COBOL_RAISE(work_, file, line, entryText,
                        "原始テキストが大きすぎます（COPY メンバと REPLACING の結果を含めて " +
                            Grouped(options_.maxCopiedWords) + " 語まで）。");
    }

private:
    void ApplyOptionReplacements(CobolToken& token) {
        std::string word;
        bool changed = false;
        for (const auto& pair : options_.replacements) {
            if (pair.first.empty()) continue;
            std::string replaced;
            if (ReplaceAllNoCase(changed ? std::string_view(word) : token.text, pair.first, pair.second, replaced)) {
                word.swap(replaced);
                changed = true;
            }
        }
        if (changed) token.text = CobolOwn(work_, std::move(word));
    }

    // `word` with every `search` (ASCII letters in either case) replaced by `by`, in
    // `out`; false when it has none.
    static bool ReplaceAllNoCase(std::string_view word, const std::string& search, const std::string& by, std::string& out) {
        std::string upperWord = CobolUpper(word), upperSearch = CobolUpper(search);
        std::size_t at = 0;
        for (;;) {
            std::size_t found = upperWord.find(upperSearch, at);
            if (found == std::string::npos) break;
            out.append(word.data() + at, found - at);
            out += by;
            at = found + search.size();
        }
        if (at == 0) return false;
        out.append(word.data() + at, word.size() - at);
        return true;
    }

    struct Replacement {
        int mode = 0;  // 0 whole words, 1 LEADING, 2 TRAILING, 3 placeholder inside words
        std::vector<CobolToken> from, by;
    };

    // One operand of REPLACING: ==pseudo-text== or a single word or literal.
    std::vector<CobolToken> Operand(const std::vector<CobolToken>& tokens, std::size_t& i, const CobolToken& at) {
        std::vector<CobolToken> result;
        if (i >= tokens.size() || tokens[i].kind == CobolToken::Period)
            COBOL_RAISE(work_, at.file, at.line, "COPY", "COPY の REPLACING の書き方が正しくありません。");
        if (tokens[i].kind == CobolToken::PseudoDelimiter) {
            ++i;
            while (i < tokens.size() && tokens[i].kind != CobolToken::PseudoDelimiter) result.push_back(tokens[i++]);
            if (i >= tokens.size())
                COBOL_RAISE(work_, at.file, at.line, "COPY", "REPLACING の == が閉じられていません。");
            ++i;
        } else {
            result.push_back(tokens[i++]);
        }
        return result;
    }

    std::vector<CobolToken> ExpandCopies(std::vector<CobolToken>& tokens, const std::string& path, int depth,
                                         int& nested) {
        nested = 0;
        bool copies = false;
        for (const CobolToken& t : tokens)
            copies = copies || (t.kind == CobolToken::Word && IsCobolWord(t.text, "COPY"));
        if (!copies) {
            const std::size_t limit = options_.maxCopiedWords;
            if (tokens.size() > limit) {
                const CobolToken& beyond = tokens[limit];
                CheckProduced(tokens.size(), beyond.file, beyond.line, std::string(beyond.text));
            }
            return std::move(tokens);
        }
        std::vector<CobolToken> out;
        out.reserve(tokens.size());
        for (std::size_t i = 0; i < tokens.size(); ++i) {
            CobolToken& t = tokens[i];
            if (!(t.kind == CobolToken::Word && IsCobolWord(t.text, "COPY"))) {
                out.push_back(std::move(t));
                CheckProduced(out.size(), out.back().file, out.back().line, std::string(out.back().text));
                continue;
            }
            // COPY name [OF|IN library] [SUPPRESS] [REPLACING ...] .
            std::string statement = "COPY";
            std::size_t j = i + 1;
            if (j >= tokens.size() || tokens[j].kind == CobolToken::Period || tokens[j].kind == CobolToken::PseudoDelimiter)
                COBOL_RAISE(work_, t.file, t.line, statement, "COPY のメンバ名がありません。");
            std::string member(tokens[j].text);
            bool literalName = tokens[j].kind == CobolToken::Literal;
            if (literalName && member.size() >= 2) member = member.substr(1, member.size() - 2);
            statement += ' ';
            statement += tokens[j].text;
            ++j;
            std::string library;
            if (j + 1 < tokens.size() && tokens[j].kind == CobolToken::Word &&
                (IsCobolWord(tokens[j].text, "OF") || IsCobolWord(tokens[j].text, "IN"))) {
                library = tokens[j + 1].text;
                if (tokens[j + 1].kind == CobolToken::Literal && library.size() >= 2)
                    library = library.substr(1, library.size() - 2);
                j += 2;
            }
            if (j < tokens.size() && tokens[j].kind == CobolToken::Word && IsCobolWord(tokens[j].text, "SUPPRESS")) ++j;
            std::vector<Replacement> replacements;
            if (j < tokens.size() && tokens[j].kind == CobolToken::Word && IsCobolWord(tokens[j].text, "REPLACING")) {
                ++j;
                if (j >= tokens.size() || tokens[j].kind == CobolToken::Period)
                    COBOL_RAISE(work_, t.file, t.line, statement, "COPY の REPLACING の書き方が正しくありません。");
                while (j < tokens.size() && tokens[j].kind != CobolToken::Period) {
                    Replacement r;
                    if (tokens[j].kind == CobolToken::Word && IsCobolWord(tokens[j].text, "LEADING")) { r.mode = 1; ++j; }
                    else if (tokens[j].kind == CobolToken::Word && IsCobolWord(tokens[j].text, "TRAILING")) { r.mode = 2; ++j; }
                    r.from = Operand(tokens, j, t);
                    if (j >= tokens.size() || !(tokens[j].kind == CobolToken::Word && IsCobolWord(tokens[j].text, "BY")))
                        COBOL_RAISE(work_, t.file, t.line, statement, "COPY の REPLACING に BY がありません。");
                    ++j;
                    r.by = Operand(tokens, j, t);
                    if (r.from.empty())
                        COBOL_RAISE(work_, t.file, t.line, statement, "REPLACING の置き換え元が空です。");
                    if (r.mode == 0 && r.from.size() == 1 && r.from[0].kind == CobolToken::Word &&
                        r.from[0].text.size() > 2 && r.from[0].text.front() == ':' && r.from[0].text.back() == ':')
                        r.mode = 3;
                    if (r.mode != 0 && (r.from.size() != 1 || r.by.size() > 1))
                        COBOL_RAISE(work_, t.file, t.line, statement, "LEADING/TRAILING の置き換えは1語どうしで書いてください。");
                    replacements.push_back(std::move(r));
                }
            }
            if (j >= tokens.size() || tokens[j].kind != CobolToken::Period)
                COBOL_RAISE(work_, t.file, t.line, statement, "COPY 文がピリオドで終わっていません。");
            if (depth + 1 > kMaxCopyDepth)
                COBOL_RAISE(work_, t.file, t.line, statement, "COPY の入れ子が深すぎます（32段まで）。");
            std::string found = Find(path, member, library, literalName, t, statement);
            // The files open for COPY, as canonical paths: the copybook's own is taken at
            // the first COPY, so that a copybook without any costs no file system look-up.
            if (stack_.empty()) stack_.push_back(Canonical(top_));
            std::string canonical = Canonical(found);
            for (const std::string& open : stack_) {
                if (open == canonical) {
                    std::string chain;
                    for (const std::string& s : stack_) chain += std::filesystem::path(s).filename().string() + " -> ";
                    chain += std::filesystem::path(canonical).filename().string();
                    COBOL_RAISE(work_, t.file, t.line, statement, "COPY が循環しています: " + chain);
                }
            }
            // A member is read and expanded once (in each source format it is copied in);
            // copied again, its words are taken from that expansion. Its COPY levels count
            // from here as they did there.
            const std::string key = canonical + (t.freeFormat ? "\n free" : "\n fixed");
            std::shared_ptr<const Expansion> expansion;
            auto cached = expansions_.find(key);
            if (cached != expansions_.end()) {
                expansion = cached->second;
                if (depth + 1 + expansion->nested > kMaxCopyDepth)
                    COBOL_RAISE(work_, t.file, t.line, statement, "COPY の入れ子が深すぎます（32段まで）。");
            } else {
                auto made = std::make_shared<Expansion>();
                stack_.push_back(canonical);
                made->tokens = Load(found, t.file, t.line, depth + 1, t.freeFormat, made->nested);
                stack_.pop_back();
                expansions_.emplace(key, made);
                expansion = std::move(made);
            }
            nested = std::max(nested, expansion->nested + 1);
            if (replacements.empty()) {
                CheckProduced(out.size() + expansion->tokens.size(), t.file, t.line, statement);
                out.insert(out.end(), expansion->tokens.begin(), expansion->tokens.end());
            } else {
                Replace(expansion->tokens, replacements, out, t, statement);
            }
            i = j;  // the period of the COPY statement
        }
        return out;
    }

    static bool TokenMatches(const CobolToken& a, const CobolToken& b) {
        if (a.kind != b.kind) return false;
        if (a.kind == CobolToken::Literal) return a.text == b.text;
        return EqualsNoCase(a.text, b.text);
    }

    // Appends `body` to `out` with the replacements `rs` of the COPY statement `at`
    // (whose text is `statement`) applied; the words made count against the bound.
    void Replace(const std::vector<CobolToken>& body, const std::vector<Replacement>& rs, std::vector<CobolToken>& out,
                 const CobolToken& at, const std::string& statement) {
        for (std::size_t i = 0; i < body.size();) {
            CheckProduced(out.size(), at.file, at.line, statement);
            bool done = false;
            for (const Replacement& r : rs) {
                if (r.mode == 0 && r.from.size() == 1 && r.from[0].kind == CobolToken::Word &&
                    body[i].kind == CobolToken::Word && body[i].text.find('(') != std::string::npos &&
                    ReplaceInsideParentheses(body[i], r.from[0].text, r.by, out)) {
                    ++i;
                    done = true;
                    break;
                }
                if (r.mode == 0) {
                    if (i + r.from.size() > body.size()) continue;
                    bool match = true;
                    for (std::size_t k = 0; k < r.from.size() && match; ++k) match = TokenMatches(body[i + k], r.from[k]);
                    if (!match) continue;
                    CheckProduced(out.size() + r.by.size(), at.file, at.line, statement);
                    for (CobolToken by : r.by) {
                        by.file = body[i].file;
                        by.line = body[i].line;
                        out.push_back(by);
                    }
                    i += r.from.size();
                    done = true;
                    break;
                }
                const CobolToken& t = body[i];
                if (t.kind != CobolToken::Word) continue;
                const std::string pattern(r.from[0].text);
                const std::string by = r.by.empty() ? std::string() : std::string(r.by[0].text);
                const std::size_t n = pattern.size();
                std::string replaced;
                if (r.mode == 1 && t.text.size() > n && EqualsNoCase(t.text.substr(0, n), pattern)) {
                    replaced = by;
                    replaced += t.text.substr(n);
                } else if (r.mode == 2 && t.text.size() > n && EqualsNoCase(t.text.substr(t.text.size() - n), pattern)) {
                    replaced = t.text.substr(0, t.text.size() - n);
                    replaced += by;
                } else if (r.mode != 3 || !ReplaceAllNoCase(t.text, pattern, by, replaced)) {
                    continue;
                }
                out.push_back(t);
                out.back().text = CobolOwn(work_, std::move(replaced));
                ++i;
                done = true;
                break;
            }
            if (!done) out.push_back(body[i++]);
        }
        CheckProduced(out.size(), at.file, at.line, statement);
    }

    // Parentheses separate words in COBOL, so "X(LEN)" holds the word LEN: a one-word
    // operand is matched against the parts of a word between its parentheses as well.
    bool ReplaceInsideParentheses(const CobolToken& t, std::string_view from, const std::vector<CobolToken>& by,
                                  std::vector<CobolToken>& out) {
        std::string replacement;
        for (const CobolToken& b : by) replacement += b.text;
        std::string result;
        bool changed = false;
        std::size_t start = 0;
        while (start <= t.text.size()) {
            std::size_t end = t.text.find_first_of("()", start);
            if (end == std::string::npos) end = t.text.size();
            std::string_view part = t.text.substr(start, end - start);
            if (!part.empty() && EqualsNoCase(part, from)) {
                result += replacement;
                changed = true;
            } else {
                result += part;
            }
            if (end < t.text.size()) result += t.text[end];
            start = end + 1;
        }
        if (!changed) return false;
        out.push_back(t);
        out.back().text = CobolOwn(work_, std::move(result));
        return true;
    }

    static std::string Canonical(const std::string& path) {
        std::error_code error;
        std::filesystem::path p = std::filesystem::weakly_canonical(path, error);
        return error ? path : p.string();
    }

    // What a candidate path of a COPY member is: 0 nothing, 1 a file, 2 a folder,
    // 3 something else (a device, a pipe, a socket).
    static int KindOf(const std::filesystem::path& p) {
        std::error_code error;
        const std::filesystem::file_status status = std::filesystem::status(p, error);
        if (error || !std::filesystem::exists(status)) return 0;
        if (std::filesystem::is_regular_file(status)) return 1;
        return std::filesystem::is_directory(status) ? 2 : 3;
    }

    // The member file: in the including file's folder (for the copybook itself, the
    // folder CobolOptions::copybookFolder names when it is set), then in each include
    // folder, as name, name.cpy, name.CPY, name.cob, name.cbl (also in upper and lower
    // case). Where the name is found only as a folder or a device, the COPY statement
    // `at` is refused with that said.
    std::string Find(const std::string& including, const std::string& member, const std::string& library, bool literalName,
                     const CobolToken& at, const std::string& statement) {
        std::vector<std::filesystem::path> dirs;
        if (including == top_ && !options_.copybookFolder.empty())
            dirs.push_back(options_.copybookFolder);
        else
            dirs.push_back(std::filesystem::path(including).parent_path());
        for (const std::string& d : options_.includeDirs) dirs.push_back(d);
        std::vector<std::string> stems{member, CobolUpper(member)};
        std::string lower = member;
        for (char& c : lower) c = FoldByte(c);
        stems.push_back(lower);
        static const char* const kSuffixes[] = {"", ".cpy", ".CPY", ".cob", ".cbl"};
        std::filesystem::path other;  // the first folder or device of the member's name
        int otherKind = 0;
        auto consider = [&](const std::filesystem::path& candidate) {
            const int kind = KindOf(candidate);
            if (kind > 1 && otherKind == 0) {
                other = candidate;
                otherKind = kind;
            }
            return kind == 1;
        };
        if (literalName && std::filesystem::path(member).is_absolute() && consider(member)) return member;
        for (const auto& dir : dirs) {
            std::vector<std::filesystem::path> bases;
            if (!library.empty()) bases.push_back(dir / library);
            bases.push_back(dir);
            for (const auto& base : bases)
                for (const std::string& stem : stems)
                    for (const char* suffix : kSuffixes) {
                        std::filesystem::path candidate = base / (stem + suffix);
                        if (consider(candidate)) return candidate.string();
                    }
        }
        if (otherKind == 2)
            COBOL_RAISE(work_, at.file, at.line, statement,
                        "COPYメンバ " + member + " はファイルではなくフォルダです: " + other.string());
        if (otherKind == 3)
            COBOL_RAISE(work_, at.file, at.line, statement,
                        "COPYメンバ " + member + " はファイルではなく装置などです: " + other.string());
        COBOL_RAISE(work_, at.file, at.line, statement, "COPYメンバ " + member + " が見つかりません。");
    }

    CobolWork& work_;
    const CobolOptions& options_;
    std::vector<CobolWarning>& warnings_;
    std::string top_;
    std::vector<std::string> stack_;
    // Members expanded so far, by canonical path and the source format they start in.
    std::unordered_map<std::string, std::shared_ptr<const Expansion>> expansions_;
};

}  // namespace

std::string CobolUpper(std::string_view word) {
    std::string upper(word);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

bool IsCobolWord(std::string_view word, const char* keyword) {
    std::size_t i = 0;
    for (; i < word.size(); ++i) {
        char c = word[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (keyword[i] == '\0' || keyword[i] != c) return false;
    }
    return keyword[i] == '\0';
}

CobolKey::CobolKey(std::string_view word) {
    // Too long, or with a NUL byte (which would end it early as a C string): no keyword.
    if (word.size() >= sizeof text_ || std::memchr(word.data(), '\0', word.size()) != nullptr) return;
    for (char c : word) text_[size_++] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    text_[size_] = '\0';
}

std::string_view CobolOwn(CobolWork& work, std::string text) { return work.owned.emplace_back(std::move(text)); }

std::string CobolEntryText(const CobolEntry& entry) {
    std::string text;
    for (const CobolToken& t : entry.tokens) {
        if (!text.empty()) text += ' ';
        text += t.text;
        if (text.size() >= 256) break;
    }
    if (text.size() > 256) text.resize(256);
    return text;
}

void CobolRaiseAt(const CobolWork& work, int file, int line, const std::string& entryText, const std::string& message,
                  int codeLine) {
    const char* name = (file >= 0 && static_cast<std::size_t>(file) < work.files.size()) ? work.files[file].c_str() : "";
    throw CCobolException(message.c_str(), name, line, entryText.c_str(), codeLine, COBCPY_MODULE);
}

void CobolLoadTokens(CobolWork& work, const char* fileName, const CobolOptions& options,
                     std::vector<CobolWarning>& warnings) {
    Loader loader(work, options, warnings);
    work.tokens = loader.Load(fileName);
}

void CobolSplitEntries(CobolWork& work, std::vector<CobolWarning>& warnings) {
    work.entries.clear();
    const std::vector<CobolToken>& tokens = work.tokens;
    CobolEntry entry;
    auto start = [&](std::size_t i) {
        entry = CobolEntry();
        entry.tokens.first = tokens.data() + i;
        entry.file = tokens[i].file;
        entry.line = tokens[i].line;
    };
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const CobolToken& t = tokens[i];
        if (t.kind == CobolToken::Word && entry.tokens.empty()) {
            const CobolKey upper(t.text);
            // Embedded SQL or CICS (EXEC ... END-EXEC) declares no storage of the record.
            if (upper == "EXEC") {
                std::size_t j = i + 1;
                while (j < tokens.size() && !(tokens[j].kind == CobolToken::Word && IsCobolWord(tokens[j].text, "END-EXEC"))) ++j;
                if (j >= tokens.size()) COBOL_RAISE(work, t.file, t.line, "EXEC", "EXEC に対応する END-EXEC がありません。");
                i = j;
                if (i + 1 < tokens.size() && tokens[i + 1].kind == CobolToken::Period) ++i;
                continue;
            }
            // Listing control words have no effect on the data.
            if (upper == "EJECT" || upper == "SKIP1" || upper == "SKIP2" || upper == "SKIP3") {
                if (i + 1 < tokens.size() && tokens[i + 1].kind == CobolToken::Period) ++i;
                continue;
            }
        }
        if (t.kind == CobolToken::Period) {
            entry.remark = t.remark;
            if (!entry.tokens.empty()) work.entries.push_back(entry);
            entry = CobolEntry();
            continue;
        }
        if (entry.tokens.empty()) start(i);
        ++entry.tokens.count;
    }
    if (!entry.tokens.empty()) {
        CobolWarning warning;
        warning.fileName = work.files[entry.file];
        warning.line = entry.line;
        warning.message = "最後の記述項にピリオドがありません。";
        warnings.push_back(warning);
        work.entries.push_back(entry);
    }
}
