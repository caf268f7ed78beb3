// CSV and JSON Lines rows.
#include "tableio.h"

#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "textcodec.h"

namespace quillbox {

namespace {

constexpr size_t kChunk = 1 << 20;

// A parsed JSON value; numbers keep their text, so that they stay exact.
struct JsonValue {
    enum Type { kNull, kBool, kNumber, kString, kObject, kArray } type = kNull;
    std::string text;
    std::vector<std::pair<std::string, JsonValue>> members;
    std::vector<JsonValue> items;
};

class JsonParser {
public:
    explicit JsonParser(const std::string& text) : p_(text.data()), end_(text.data() + text.size()) {}

    bool Parse(JsonValue& value, std::string& error) {
        if (!Value(value, 0)) {
            error = error_.empty() ? "not JSON" : error_;
            return false;
        }
        Blanks();
        if (p_ != end_) {
            error = "text after the JSON value";
            return false;
        }
        return true;
    }

private:
    void Blanks() {
        while (p_ != end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\r' || *p_ == '\n')) ++p_;
    }
    // Takes `close` after blanks: the end of an empty object or array.
    bool Closes(char close) {
        Blanks();
        if (p_ == end_ || *p_ != close) return false;
        ++p_;
        return true;
    }
    // After a member or an item: takes a ',' (another follows) or `close` (sets `closed`);
    // false at anything else.
    bool Separator(char close, bool& closed) {
        Blanks();
        if (p_ == end_ || (*p_ != ',' && *p_ != close)) return false;
        closed = *p_ == close;
        ++p_;
        return true;
    }
    bool Fail(const char* message) {
        if (error_.empty()) error_ = message;
        return false;
    }
    bool Literal(const char* word) {
        size_t n = std::strlen(word);
        if (static_cast<size_t>(end_ - p_) < n || std::memcmp(p_, word, n) != 0) return Fail("not JSON");
        p_ += n;
        return true;
    }
    bool Hex4(uint32_t& unit) {
        if (end_ - p_ < 4) return Fail("bad \\u escape");
        unit = 0;
        for (int i = 0; i < 4; ++i) {
            char c = *p_++;
            unit <<= 4;
            if (c >= '0' && c <= '9') unit |= static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f') unit |= static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') unit |= static_cast<uint32_t>(c - 'A' + 10);
            else return Fail("bad \\u escape");
        }
        return true;
    }
    bool String(std::string& out) {
        ++p_;   // the opening quote
        while (p_ != end_ && *p_ != '"') {
            // The characters up to the next quote, backslash or control character at once.
            const char* run = p_;
            while (run != end_ && *run != '"' && *run != '\\' && static_cast<unsigned char>(*run) >= 0x20) ++run;
            if (run != p_) {
                out.append(p_, run);
                p_ = run;
                continue;
            }
            unsigned char c = static_cast<unsigned char>(*p_++);
            if (c < 0x20) return Fail("control character in a JSON string");
            if (c != '\\') {
                out.push_back(static_cast<char>(c));
                continue;
            }
            if (p_ == end_) return Fail("unterminated JSON string");
            char e = *p_++;
            switch (e) {
            case '"': out.push_back('"'); break;
            case '\\': out.push_back('\\'); break;
            case '/': out.push_back('/'); break;
            case 'b': out.push_back('\b'); break;
            case 'f': out.push_back('\f'); break;
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            case 'u': {
                uint32_t unit;
                if (!Hex4(unit)) return false;
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    uint32_t low;
                    if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') return Fail("lone surrogate in a JSON string");
                    p_ += 2;
                    if (!Hex4(low) || low < 0xDC00 || low > 0xDFFF) return Fail("lone surrogate in a JSON string");
                    unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                    return Fail("lone surrogate in a JSON string");
                }
                AppendUtf8(unit, out);
                break;
            }
            default: return Fail("bad escape in a JSON string");
            }
        }
        if (p_ == end_) return Fail("unterminated JSON string");
        ++p_;
        return true;
    }
    bool Value(JsonValue& value, int depth) {
        if (depth > 200) return Fail("JSON nested too deeply");
        Blanks();
        if (p_ == end_) return Fail("JSON value missing");
        char c = *p_;
        if (c == '{') {
            ++p_;
            value.type = JsonValue::kObject;
            if (Closes('}')) return true;
            for (;;) {
                Blanks();
                if (p_ == end_ || *p_ != '"') return Fail("JSON object key missing");
                std::string key;
                if (!String(key)) return false;
                Blanks();
                if (p_ == end_ || *p_ != ':') return Fail("':' missing in a JSON object");
                ++p_;
                value.members.emplace_back(std::move(key), JsonValue());
                if (!Value(value.members.back().second, depth + 1)) return false;
                bool closed = false;
                if (!Separator('}', closed)) return Fail("',' or '}' missing in a JSON object");
                if (closed) return true;
            }
        }
        if (c == '[') {
            ++p_;
            value.type = JsonValue::kArray;
            if (Closes(']')) return true;
            for (;;) {
                value.items.emplace_back();
                if (!Value(value.items.back(), depth + 1)) return false;
                bool closed = false;
                if (!Separator(']', closed)) return Fail("',' or ']' missing in a JSON array");
                if (closed) return true;
            }
        }
        if (c == '"') {
            value.type = JsonValue::kString;
            return String(value.text);
        }
        if (c == 't' || c == 'f') {
            value.type = JsonValue::kBool;
            value.text = c == 't' ? "true" : "false";
            return Literal(value.text.c_str());
        }
        if (c == 'n') {
            value.type = JsonValue::kNull;
            return Literal("null");
        }
        const char* start = p_;
        while (p_ != end_ && NumberByte(*p_)) ++p_;
        if (p_ == start) return Fail("not JSON");
        value.type = JsonValue::kNumber;
        value.text.assign(start, p_);
        return true;
    }

    // A byte a JSON number's text is taken with (the number's own check follows): a digit,
    // a sign, a point, an exponent's letter, or a NUL byte.
    static bool NumberByte(char c) {
        return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E' || c == '\0';
    }

    const char* p_;
    const char* end_;
    std::string error_;
};

const char* JsonTypeName(JsonValue::Type type) {
    switch (type) {
    case JsonValue::kNull: return "null";
    case JsonValue::kBool: return "true or false";
    case JsonValue::kNumber: return "a number";
    case JsonValue::kString: return "a string";
    case JsonValue::kObject: return "an object";
    case JsonValue::kArray: return "an array";
    }
    return "a value";
}

// Where a value lies in the row, for messages: made into text only when one is said.
struct JsonPath {
    const JsonPath* parent = nullptr;
    const std::string* key = nullptr;   // a member's key; null for an array's element
    size_t element = 0;                  // the element's number, from 1
};

// "GROUP.ITEM[2]"; empty for the row itself.
std::string PathText(const JsonPath* path) {
    if (path == nullptr) return std::string();
    std::string parent = PathText(path->parent);
    if (path->key != nullptr) return parent.empty() ? *path->key : parent + "." + *path->key;
    return parent + "[" + std::to_string(path->element) + "]";
}

// "PATH: " before a message, nothing for the row itself.
std::string PathPrefix(const JsonPath* path) {
    std::string text = PathText(path);
    return text.empty() ? text : text + ": ";
}

// A key's hash, so that keys are compared as strings only when their hashes agree.
inline uint64_t KeyHash(const std::string& key) {
    uint64_t hash = 1469598103934665603ull;
    for (char c : key) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return hash ^ key.size();
}

bool FillFromJson(const JsonNode& node, const JsonValue* value, std::vector<Cell>& cells, bool ignoreUnknown,
                  const JsonPath* path, std::string& error);

// The members of `value` (none: the group is missing) into the cells of `children`. Keys
// the layout does not have (unless `ignoreUnknown`) and keys given twice are refused,
// the first of them in the object's order.
bool FillObject(const std::vector<JsonNode>& children, const JsonValue* value, std::vector<Cell>& cells,
                bool ignoreUnknown, const JsonPath* path, std::string& error) {
    const size_t count = value != nullptr ? value->members.size() : 0;
    // The members come in the layout's order as a rule: each key is looked for at the
    // child after the last one found first.
    std::vector<uint64_t> hashes(count);
    size_t hint = 0;
    for (size_t i = 0; i < count; ++i) {
        const std::string& key = value->members[i].first;
        bool known = hint < children.size() && children[hint].key == key;
        for (size_t c = 0; c < children.size() && !known; ++c) {
            if (children[c].key == key) {
                known = true;
                hint = c;
            }
        }
        if (known) ++hint;
        if (!known && !ignoreUnknown) {
            error = PathPrefix(path) + "the layout has no item \"" + ShownText(key) + "\"";
            return false;
        }
        hashes[i] = KeyHash(key);
        for (size_t j = 0; j < i; ++j) {
            if (hashes[j] == hashes[i] && value->members[j].first == key) {
                error = PathPrefix(path) + "\"" + ShownText(key) + "\" is given twice";
                return false;
            }
        }
    }
    // Each key is given once: a child's member is the one of its key.
    size_t next = 0;
    for (const JsonNode& child : children) {
        const JsonValue* member = nullptr;
        if (next < count && value->members[next].first == child.key) {
            member = &value->members[next++].second;
        } else {
            for (size_t m = 0; m < count; ++m) {
                if (value->members[m].first == child.key) {
                    member = &value->members[m].second;
                    next = m + 1;
                    break;
                }
            }
        }
        JsonPath at;
        at.parent = path;
        at.key = &child.key;
        if (!FillFromJson(child, member, cells, ignoreUnknown, &at, error)) return false;
    }
    return true;
}

// Fills the cells under `node` from `value` (none: the key is missing, the cells null).
// False with `error` for a value whose JSON type does not fit the item, and (unless
// `ignoreUnknown`) a key the layout does not have or one given twice. `path` names the
// place for the message.
bool FillFromJson(const JsonNode& node, const JsonValue* value, std::vector<Cell>& cells, bool ignoreUnknown,
                  const JsonPath* path, std::string& error) {
    if (value != nullptr && value->type == JsonValue::kNull) value = nullptr;
    switch (node.kind) {
    case JsonNode::kLeaf: {
        Cell& cell = cells[static_cast<size_t>(node.field)];
        if (value == nullptr) {
            cell.kind = Cell::kNull;
            cell.text.clear();
            return true;
        }
        if (value->type != JsonValue::kString && value->type != JsonValue::kNumber) {
            error = PathText(path) + ": " + JsonTypeName(value->type) + " does not fit the item";
            return false;
        }
        cell.kind = value->type == JsonValue::kString ? Cell::kText : Cell::kNumber;
        cell.text = value->text;
        return true;
    }
    case JsonNode::kObject:
        if (value != nullptr && value->type != JsonValue::kObject) {
            error = PathText(path) + ": " + JsonTypeName(value->type) + " where the layout has a group";
            return false;
        }
        return FillObject(node.children, value, cells, ignoreUnknown, path, error);
    case JsonNode::kArray:
        if (value != nullptr && value->type != JsonValue::kArray) {
            error = PathText(path) + ": " + JsonTypeName(value->type) + " where the layout has a table";
            return false;
        }
        if (value != nullptr && value->items.size() > node.children.size()) {
            error = PathText(path) + ": " + std::to_string(value->items.size()) + " elements, the table has " +
                    std::to_string(node.children.size());
            return false;
        }
        for (size_t i = 0; i < node.children.size(); ++i) {
            const JsonValue* element = nullptr;
            if (value != nullptr && i < value->items.size()) element = &value->items[i];
            JsonPath at;
            at.parent = path;
            at.element = i + 1;
            if (!FillFromJson(node.children[i], element, cells, ignoreUnknown, &at, error)) return false;
        }
        return true;
    }
    return true;
}

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

// Nonzero when one of the eight bytes of `x` is `c`.
inline uint64_t HasByte(uint64_t x, unsigned char c) {
    uint64_t v = x ^ (kOnes * c);
    return (v - kOnes) & ~v & kHighs;
}

// Nonzero when one of the eight bytes of `x` is below 0x20.
inline uint64_t HasControl(uint64_t x) { return (x - kOnes * 0x20) & ~x & kHighs; }

inline bool CsvSpecial(char c) { return c == ',' || c == '"' || c == '\r' || c == '\n'; }
inline bool JsonSpecial(char c) { return c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20; }


// Copies `n` bytes; short texts as whole 16-byte moves, which the slack after the row's
// texts and in the output's room allow.
inline char* CopyText(char* out, const char* text, size_t n) {
    if (n <= 16) {
        std::memcpy(out, text, 16);
    } else if (n <= 32) {
        std::memcpy(out, text, 16);
        std::memcpy(out + 16, text + 16, 16);
    } else {
        std::memcpy(out, text, n);
    }
    return out + n;
}

char* PutJsonString(char* out, const char* text, size_t n) {
    *out++ = '"';
    if (!NeedsJsonEscapes(text, n)) {
        out = CopyText(out, text, n);
    } else {
        for (size_t i = 0; i < n; ++i) {
            char c = text[i];
            unsigned char u = static_cast<unsigned char>(c);
            if (c == '"' || c == '\\') {
                *out++ = '\\';
                *out++ = c;
            } else if (u < 0x20) {
                static const char kHex[] = "0123456789abcdef";
                std::memcpy(out, "\\u00", 4);
                out[4] = kHex[u >> 4];
                out[5] = kHex[u & 0x0F];
                out += 6;
            } else {
                *out++ = c;
            }
        }
    }
    *out++ = '"';
    return out;
}

void Flatten(const JsonNode& node, std::string& pending, std::vector<std::pair<std::string, int>>& steps) {
    if (node.kind == JsonNode::kLeaf) {
        steps.emplace_back(pending, node.field);
        pending.clear();
        return;
    }
    bool object = node.kind == JsonNode::kObject;
    pending.push_back(object ? '{' : '[');
    bool first = true;
    for (const JsonNode& child : node.children) {
        if (!first) pending.push_back(',');
        first = false;
        if (object) {
            AppendJsonString(pending, child.key);
            pending.push_back(':');
        }
        Flatten(child, pending, steps);
    }
    pending.push_back(object ? '}' : ']');
}

}  // namespace

bool NeedsCsvQuotes(const char* p, size_t n) {
    size_t i = 0;
#ifdef __SSE2__
    // Sixteen bytes a step.
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(',')), _mm_cmpeq_epi8(v, _mm_set1_epi8('"'))),
                                         _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))));
        if (_mm_movemask_epi8(hit) != 0) return true;
    }
#endif
    for (; i + 8 <= n; i += 8) {
        uint64_t x;
        std::memcpy(&x, p + i, 8);
        if (HasByte(x, ',') | HasByte(x, '"') | HasByte(x, '\r') | HasByte(x, '\n')) return true;
    }
    for (; i < n; ++i) {
        if (CsvSpecial(p[i])) return true;
    }
    return false;
}

bool NeedsJsonEscapes(const char* p, size_t n) {
    size_t i = 0;
#ifdef __SSE2__
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        // Control characters: the bytes below 0x20 among those a signed compare puts at
        // zero or above.
        const __m128i control = _mm_andnot_si128(_mm_cmplt_epi8(v, _mm_setzero_si128()), _mm_cmplt_epi8(v, _mm_set1_epi8(0x20)));
        const __m128i hit = _mm_or_si128(control, _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))));
        if (_mm_movemask_epi8(hit) != 0) return true;
    }
#endif
    for (; i + 8 <= n; i += 8) {
        uint64_t x;
        std::memcpy(&x, p + i, 8);
        if (HasByte(x, '"') | HasByte(x, '\\') | HasControl(x)) return true;
    }
    for (; i < n; ++i) {
        if (JsonSpecial(p[i])) return true;
    }
    return false;
}


char* CsvRowWriter::Put(char* out, const RowCells& row) const {
    const size_t count = row.Size();
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) *out++ = ',';
        Cell::Kind kind = row.Kind(i);
        if (kind == Cell::kNull) continue;
        const char* text = row.Text(i);
        size_t n = row.Length(i);
        // Text with nothing in it is "": an empty field is an absent value (null).
        if (kind == Cell::kNumber || (n > 0 && !NeedsCsvQuotes(text, n))) {
            out = CopyText(out, text, n);
            continue;
        }
        *out++ = '"';
        for (size_t k = 0; k < n; ++k) {
            if (text[k] == '"') *out++ = '"';
            *out++ = text[k];
        }
        *out++ = '"';
    }
    std::memcpy(out, lineEnd_.data(), lineEnd_.size());
    return out + lineEnd_.size();
}

JsonRowWriter::JsonRowWriter(const LayoutPlan& plan, JsonNumbers numbers) {
    JsonNode top;
    top.kind = JsonNode::kObject;
    top.children = plan.roots;
    std::string pending;
    std::vector<std::pair<std::string, int>> steps;
    Flatten(top, pending, steps);
    bool quotedBefore = false;   // the value before the piece is a quoted number
    for (const auto& step : steps) {
        bool quoted = step.second >= 0 && JsonNumberAsString(plan.fields[static_cast<size_t>(step.second)], numbers);
        std::string direct = (quotedBefore ? "\"" : "") + step.first + (quoted ? "\"" : "");
        steps_.push_back(Step{pieces_.size(), step.first.size(), step.second, quoted});
        DirectJson::Piece piece;
        piece.at = static_cast<uint32_t>(direct_.text.size());
        piece.length = static_cast<uint32_t>(direct.size());
        piece.column = step.second;
        direct_.pieces.push_back(piece);
        pieces_ += step.first;
        direct_.text += direct;
        quotedBefore = quoted;
    }
    after_ = pieces_.size();
    pieces_ += pending + "\n";
    afterLength_ = pieces_.size() - after_;
    direct_.afterAt = static_cast<uint32_t>(direct_.text.size());
    direct_.text += (quotedBefore ? "\"" : "") + pending + "\n";
    direct_.afterLength = static_cast<uint32_t>(direct_.text.size() - direct_.afterAt);
    fixed_ = direct_.text.size() > pieces_.size() ? direct_.text.size() : pieces_.size();
    pieces_.append(RowCells::kSlack, '\0');
    direct_.text.append(DirectJson::kSlack, '\0');
}

char* JsonRowWriter::PutDirect(char* out, ValueCodec& values, const DirectPlan& row, const unsigned char* record) const {
    return values.JsonRowInto(row, direct_, record, out);
}

char* JsonRowWriter::Put(char* out, const RowCells& row) const {
    for (const Step& step : steps_) {
        out = CopyText(out, pieces_.data() + step.at, step.length);
        Cell::Kind kind = step.field < 0 ? Cell::kNull : row.Kind(static_cast<size_t>(step.field));
        if (kind == Cell::kNull) {
            std::memcpy(out, "null", 4);
            out += 4;
            continue;
        }
        const char* text = row.Text(static_cast<size_t>(step.field));
        size_t n = row.Length(static_cast<size_t>(step.field));
        // Numbers as they are, but for the floating point values JSON has no number for.
        bool special = kind == Cell::kNumber && n > 0 && (text[0] == 'N' || text[0] == 'I' || (text[0] == '-' && n > 1 && text[1] == 'I')) &&
                       ((n == 3 && std::memcmp(text, "NaN", 3) == 0) || (n == 8 && std::memcmp(text, "Infinity", 8) == 0) ||
                        (n == 9 && std::memcmp(text, "-Infinity", 9) == 0));
        if (kind == Cell::kNumber && !special && !step.quoted) out = CopyText(out, text, n);
        else out = PutJsonString(out, text, n);
    }
    std::memcpy(out, pieces_.data() + after_, afterLength_);
    return out + afterLength_;
}

void AppendCsvField(std::string& out, const std::string& text) {
    bool plain = true;
    for (char c : text) {
        if (c == ',' || c == '"' || c == '\r' || c == '\n') {
            plain = false;
            break;
        }
    }
    if (plain) {
        out += text;
        return;
    }
    out.push_back('"');
    for (char c : text) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
}

void AppendJsonString(std::string& out, const std::string& text) {
    out.push_back('"');
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (u < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", u);
            out += escape;
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
}

void AppendCsvRow(std::string& out, const std::vector<Cell>& cells, const char* lineEnd) {
    for (size_t i = 0; i < cells.size(); ++i) {
        if (i > 0) out.push_back(',');
        if (cells[i].kind == Cell::kNumber) out += cells[i].text;
        else if (cells[i].kind == Cell::kText && cells[i].text.empty()) out += "\"\"";   // not null: ""
        else if (cells[i].kind == Cell::kText) AppendCsvField(out, cells[i].text);
    }
    out += lineEnd;
}

bool ReadJsonRow(const std::string& line, const LayoutPlan& plan, std::vector<Cell>& cells, std::string& error,
                 bool ignoreUnknown) {
    JsonValue value;
    JsonParser parser(line);
    if (!parser.Parse(value, error)) return false;
    if (value.type != JsonValue::kObject) {
        error = "a line that is no JSON object";
        return false;
    }
    return FillObject(plan.roots, &value, cells, ignoreUnknown, nullptr, error);
}

TableReader::TableReader(std::FILE* in, uint64_t maxLine) : in_(in), buffer_(new char[kChunk]), maxLine_(maxLine) {
    data_ = buffer_.get();
}

TableReader::TableReader(const char* first, size_t firstSize, const char* second, size_t secondSize,
                         uint64_t maxLine)
    : in_(nullptr), maxLine_(maxLine) {
    pieces_[0] = {first, firstSize};
    pieces_[1] = {second, secondSize};
}

bool TableReader::TooLong(uint64_t start, std::string& error) const {
    if (Position() - start <= maxLine_) return false;
    error = "a line longer than " + std::to_string(maxLine_) + " bytes (the limit; --max-line sets it)";
    return true;
}

int TableReader::Refill() {
    if (begin_ < end_) return static_cast<unsigned char>(data_[begin_]);
    if (eof_) return EOF;
    if (in_ == nullptr) {
        // Bytes in memory: the next piece that has any, as one block.
        while (piece_ < 2 && pieces_[piece_].second == 0) ++piece_;
        begin_ = end_ = 0;
        if (piece_ == 2) {
            eof_ = true;
            return EOF;
        }
        data_ = pieces_[piece_].first;
        end_ = pieces_[piece_].second;
        consumed_ += end_;
        ++piece_;
        while (piece_ < 2 && pieces_[piece_].second == 0) ++piece_;
        if (piece_ == 2) eof_ = true;
        return static_cast<unsigned char>(data_[0]);
    }
    end_ = std::fread(buffer_.get(), 1, kChunk, in_);
    begin_ = 0;
    consumed_ += end_;
    if (end_ < kChunk) {
        if (std::ferror(in_)) readFailed_ = true;
        eof_ = true;
    }
    if (end_ == 0) return EOF;
    return static_cast<unsigned char>(data_[begin_]);
}

bool TableReader::NextCsvRow(std::vector<std::string>& fields, std::string& error) {
    // The strings of `fields` are kept and reused, so that a row allocates nothing.
    size_t count = 0;
    auto next = [&fields, &count]() {
        if (count == fields.size()) fields.emplace_back();
        fields[count].clear();
        ++count;
    };
    struct Trim {   // drops the strings of fields the row did not have
        std::vector<std::string>& fields;
        size_t& count;
        ~Trim() { fields.resize(count); }
    } trim{fields, count};
    if (Peek() == EOF) return false;
    const uint64_t start = Position();
    next();
    for (;;) {
        if (Position() - start > maxLine_ && TooLong(start, error)) return false;
        int c = Get();
        if (c == EOF) return true;
        if (c == '\n') return true;
        if (c == '\r' && Peek() == '\n') {
            Get();
            return true;
        }
        if (c == ',') {
            next();
            continue;
        }
        if (c == '"' && fields[count - 1].empty()) {
            for (;;) {
                c = Get();
                if (c == EOF) {
                    error = "a quoted field is never closed";
                    return false;
                }
                if (c == '"') {
                    if (Peek() != '"') break;
                    Get();
                }
                fields[count - 1].push_back(static_cast<char>(c));
                if ((fields[count - 1].size() & 0xFFFF) == 0 && TooLong(start, error)) return false;
            }
            continue;
        }
        // The rest of an unquoted field up to its end, taken from the buffer at once.
        // (`c` is taken on its own: a lone CR at the end of a block was followed by a
        // refill, and is no longer in the buffer.)
        std::string& field = fields[count - 1];
        size_t run = begin_;
        // Eight bytes a step while none of them ends the field.
        while (run + 8 <= end_) {
            uint64_t x;
            std::memcpy(&x, data_ + run, 8);
            if (HasByte(x, ',') | HasByte(x, '"') | HasByte(x, '\r') | HasByte(x, '\n')) break;
            run += 8;
        }
        while (run < end_) {
            char d = data_[run];
            if (d == ',' || d == '\n' || d == '\r' || d == '"') break;
            ++run;
        }
        field.push_back(static_cast<char>(c));
        field.append(data_ + begin_, run - begin_);
        begin_ = run;
    }
}

namespace {

// The fields of an unquoted row at `begin` handed to `put` (where and how many bytes),
// up to its line end (LF) or `end`: the line end (or null when the bytes hold none) in `lineEnd`. False
// when a quote comes first: the row may hold a quoted field. One pass over the bytes,
// sixteen at a time where the machine has SSE2.
template <class Put>
bool SplitPlainRow(const char* begin, const char* end, Put put, const char*& lineEnd) {
    const char* field = begin;
    const char* p = begin;
#ifdef __SSE2__
    const __m128i commas = _mm_set1_epi8(',');
    const __m128i quotes = _mm_set1_epi8('"');
    const __m128i feeds = _mm_set1_epi8('\n');
    for (; end - p >= 16; p += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        unsigned comma = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, commas)));
        const unsigned stop = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, quotes), _mm_cmpeq_epi8(block, feeds))));
        if (stop != 0) comma &= (1u << __builtin_ctz(stop)) - 1;
        while (comma != 0) {
            const char* at = p + __builtin_ctz(comma);
            put(field, static_cast<size_t>(at - field));
            field = at + 1;
            comma &= comma - 1;
        }
        if (stop != 0) {
            p += __builtin_ctz(stop);
            break;
        }
    }
#endif
    for (; p < end && *p != '\n' && *p != '"'; ++p) {
        if (*p == ',') {
            put(field, static_cast<size_t>(p - field));
            field = p + 1;
        }
    }
    if (p < end && *p == '"') return false;
    lineEnd = p < end ? p : nullptr;
    const char* rowEnd = p;
    if (lineEnd != nullptr && rowEnd > field && rowEnd[-1] == '\r') --rowEnd;
    put(field, static_cast<size_t>(rowEnd - field));
    return true;
}

}  // namespace

bool TableReader::NextCsvRow(std::vector<std::string_view>& fields, std::vector<std::string>& store, std::string& error) {
    fields.clear();
    if (Peek() == EOF) return false;
    // The row in place: its line end in the buffer (or the input's end after it), no
    // quote in it (a quote may open a quoted field) and within the line limit.
    const char* begin = data_ + begin_;
    const char* end = data_ + end_;
    const char* lineEnd = nullptr;
    auto put = [&fields](const char* at, size_t n) { fields.emplace_back(at, n); };
    if (SplitPlainRow(begin, end, put, lineEnd) && (lineEnd != nullptr || eof_)) {
        const char* rowEnd = lineEnd != nullptr ? lineEnd : end;
        if (static_cast<uint64_t>(rowEnd - begin) <= maxLine_) {
            begin_ = lineEnd != nullptr ? static_cast<size_t>(lineEnd + 1 - data_) : end_;
            return true;
        }
    }
    fields.clear();
    if (!NextCsvRow(store, error)) return false;
    for (const std::string& text : store) fields.emplace_back(text);
    return true;
}

bool TableReader::NextCsvRow(std::vector<LentCell>& cells, size_t& count, std::vector<std::string>& store,
                             std::string& error) {
    count = 0;
    if (Peek() == EOF) return false;
    const size_t room = cells.size();
    LentCell* cell = cells.data();
    auto put = [cell, room, &count](const char* at, size_t n) {
        if (count < room) {
            cell[count].null = n == 0;
            cell[count].text = std::string_view(at, n);
        }
        ++count;
    };
    const char* begin = data_ + begin_;
    const char* end = data_ + end_;
    const char* lineEnd = nullptr;
    if (SplitPlainRow(begin, end, put, lineEnd) && (lineEnd != nullptr || eof_)) {
        const char* rowEnd = lineEnd != nullptr ? lineEnd : end;
        if (static_cast<uint64_t>(rowEnd - begin) <= maxLine_) {
            begin_ = lineEnd != nullptr ? static_cast<size_t>(lineEnd + 1 - data_) : end_;
            return true;
        }
    }
    count = 0;
    if (!NextCsvRow(store, error)) return false;
    for (const std::string& text : store) put(text.data(), text.size());
    return true;
}

bool TableReader::NextLine(std::string& line, std::string& error) {
    for (;;) {
        line.clear();
        const uint64_t start = Position();
        // The bytes up to the line feed a block at a time; the limit checked after each.
        int c = EOF;
        while (begin_ < end_ || Refill() != EOF) {
            const char* from = data_ + begin_;
            const size_t left = end_ - begin_;
            const char* feed = static_cast<const char*>(std::memchr(from, '\n', left));
            const size_t taken = feed != nullptr ? static_cast<size_t>(feed - from) : left;
            line.append(from, taken);
            begin_ += taken;
            if (feed != nullptr) {
                ++begin_;
                c = '\n';
                break;
            }
            if (TooLong(start, error)) return false;
        }
        if (TooLong(start, error)) return false;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        bool blank = line.find_first_not_of(" \t") == std::string::npos;
        if (!blank) return true;
        if (c == EOF) return false;
    }
}

}  // namespace quillbox
