// quillbox-cli schema: the table a copybook's data decodes to, for catalogs and loaders:
// a JSON Schema of one JSON Lines row, the SQL DDL in a dialect, or the column list.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli_common.h"
#include "commands.h"
#include "datacodec.h"
#include "layoutplan.h"
#include "rectypes.h"
#include "sqltable.h"
#include "storage.h"
#include "textcodec.h"

using nlohmann::ordered_json;
using namespace quillbox;

namespace {

struct SchemaOptions {
    CopybookArgument copybook;
    std::string format = "json-schema";
    std::string dialect = "generic";
    std::string table;
    bool serialNo = false;
    bool quoteNames = false;
    std::string redefines = "first";
    std::string jsonNumbers = "exact";
    std::string encoding = "cp932";
    TableColumnArguments columns;
};

// How the text of an encoding fills an item's bytes: the JSON Schema's lengths count
// characters, which are bytes only where every character takes one.
struct TextBytes {
    std::string encoding;     // its canonical name
    bool singleByte = true;   // every character of alphanumeric text one byte
    bool utf16 = false;       // national items in UTF-16BE (a character past U+FFFF takes 4 bytes)
};

TextBytes TextBytesOf(const std::string& name) {
    TextBytes bytes;
    bytes.encoding = TextCodec::CanonicalName(name);
    const std::string& e = bytes.encoding;
    const bool dbcs = e == "cp932" || e == "ibm-930" || e == "ibm-939" || e == "ibm-1390" || e == "ibm-1399";
    bytes.singleByte = !dbcs && e != "utf-8";
    bytes.utf16 = !dbcs;
    return bytes;
}

// A regular expression of the decimal integers 0 to `top` (without sign; zeros before
// them allowed): those of fewer digits, and those of as many that are not above it.
std::string UpToPattern(uint64_t top) {
    const std::string m = std::to_string(top);
    const size_t d = m.size();
    std::string pattern = "0*(";
    if (d > 1) pattern += "[0-9]{1," + std::to_string(d - 1) + "}|";
    for (size_t i = 0; i < d; ++i) {
        if (m[i] == '0') continue;
        pattern += m.substr(0, i) + "[0-" + std::string(1, static_cast<char>(m[i] - 1)) + "]";
        if (i + 1 < d) pattern += "[0-9]{" + std::to_string(d - i - 1) + "}";
        pattern += "|";
    }
    return pattern + m + ")";
}

// The constraints of a number column as encode takes its values: the picture's digits
// and decimal places for display and packed items; the item's bytes for binary ones,
// which hold values past their picture; no minus sign for an unsigned item. Numbers
// too wide for a JSON number's exact bounds are bounded by their pattern alone.
void NumberSchema(const Field& field, JsonNumbers numbers, ordered_json& schema) {
    const bool binary = field.kind == Field::kBinary || field.kind == Field::kComp5;
    const int places = field.scale > 0 ? field.scale : 0;
    const int zeros = field.scale < 0 ? -field.scale : 0;
    // The largest unscaled magnitude, as digits; for binary items that of the bytes.
    int digits = field.digits < 0 ? 0 : field.digits;
    uint64_t binaryTop = 0;   // binary: the largest magnitude of the positive values
    if (binary) {
        const int bits = 8 * (field.length < 8 ? field.length : 8);
        const int valueBits = field.isSigned ? bits - 1 : bits;
        binaryTop = valueBits >= 64 ? ~uint64_t{0} : (uint64_t{1} << valueBits) - 1;
        digits = static_cast<int>(std::to_string(binaryTop).size());
    }
    if (JsonNumberAsString(field, numbers)) {
        schema["type"] = {"string", "null"};
        if (binary && places == 0 && zeros == 0) {
            // The integers of the item's bytes, exactly.
            std::string pattern = "^(" + UpToPattern(binaryTop);
            if (field.isSigned) pattern += "|-" + UpToPattern(binaryTop + 1);
            schema["pattern"] = pattern + ")$";
            schema["description"] = "exact decimal text";
            return;
        }
        const std::string whole = digits > places ? "0*[0-9]{1," + std::to_string(digits - places) + "}" : "0+";
        std::string pattern = std::string("^") + (field.isSigned ? "-?" : "");
        if (zeros > 0) pattern += "(0+|" + whole + "0{" + std::to_string(zeros) + "})";
        else pattern += whole;
        if (places > 0) pattern += "(\\.[0-9]{1," + std::to_string(places) + "})?";
        schema["pattern"] = pattern + "$";
        schema["description"] = "exact decimal text";
        return;
    }
    schema["type"] = {places > 0 ? "number" : "integer", "null"};
    if (binary) {
        if (zeros > 0 || places > 0) return;
        if (field.isSigned) {
            schema["minimum"] = -static_cast<int64_t>(binaryTop) - 1;
            schema["maximum"] = static_cast<int64_t>(binaryTop);
        } else {
            schema["minimum"] = 0;
            schema["maximum"] = binaryTop;
        }
        return;
    }
    if (digits + zeros > 18 || (places > 0 && digits > 15)) {
        if (!field.isSigned) schema["minimum"] = 0;
        return;
    }
    int64_t top = 1;
    for (int i = 0; i < digits; ++i) top *= 10;
    --top;
    for (int i = 0; i < zeros; ++i) top *= 10;
    if (places > 0) {
        // Exact as a double: at most 15 digits.
        double limit = static_cast<double>(top);
        for (int i = 0; i < places; ++i) limit /= 10;
        schema["minimum"] = field.isSigned ? -limit : 0.0;
        schema["maximum"] = limit;
    } else {
        schema["minimum"] = field.isSigned ? -top : 0;
        schema["maximum"] = top;
        // P positions: the low digits the picture leaves out are zeros.
        int64_t unit = 1;
        for (int i = 0; i < zeros; ++i) unit *= 10;
        if (unit > 1) schema["multipleOf"] = unit;
    }
}

// The schema of a leaf value as JSON Lines writes it (null: bad data under
// --on-error null, an absent occurrence, a blank number read as null).
ordered_json LeafSchema(const Field& field, JsonNumbers numbers, const TextBytes& text) {
    ordered_json schema;
    switch (field.kind) {
    case Field::kDisplay:
    case Field::kPacked:
    case Field::kBinary:
    case Field::kComp5:
        NumberSchema(field, numbers, schema);
        break;
    case Field::kFloat:
    case Field::kDouble:
        // NaN and the infinities are strings: JSON has no number for them.
        schema["type"] = {"number", "string", "null"};
        break;
    case Field::kNational:
        // Two bytes a character: exact, but for the characters UTF-16 writes in four.
        schema["type"] = {"string", "null"};
        schema["maxLength"] = field.length / 2;
        if (text.utf16) {
            schema["description"] = "at most " + std::to_string(field.length) + " bytes of UTF-16BE: " +
                                    std::to_string(field.length / 2) +
                                    " characters, a character past U+FFFF counting as two";
        }
        break;
    case Field::kBits:
    case Field::kBoolChars:
        schema["type"] = {"string", "null"};
        schema["pattern"] = "^[01]*$";
        schema["maxLength"] = field.kind == Field::kBits ? field.digits : field.length;
        break;
    case Field::kText:
        // A character takes at least one byte: the bytes bound the characters, and are
        // them in a single-byte code page.
        schema["type"] = {"string", "null"};
        schema["maxLength"] = field.length;
        if (!text.singleByte) {
            schema["description"] =
                "at most " + std::to_string(field.length) + " bytes of " + text.encoding + ", not characters: " +
                (text.encoding == "utf-8" ? std::string("a character takes 1 to 4 bytes")
                 : text.encoding == "cp932"
                     ? std::string("a double-byte character takes 2")
                     : std::string("double-byte text takes 2 bytes a character and 2 more for shift-out and shift-in")) +
                ", so maxLength (in characters) is a bound that longer text in bytes may pass";
        }
        break;
    }
    std::string picture = ShiftJisToUtf8(ItemText(field.item->picture).Get());
    if (!picture.empty()) schema["x-cobol-picture"] = picture;
    return schema;
}

ordered_json NodeSchema(const JsonNode& node, const LayoutPlan& plan, JsonNumbers numbers, const TextBytes& text) {
    switch (node.kind) {
    case JsonNode::kLeaf: return LeafSchema(plan.fields[static_cast<size_t>(node.field)], numbers, text);
    case JsonNode::kArray: {
        ordered_json schema = {{"type", "array"}, {"maxItems", node.children.size()}};
        if (!node.children.empty()) schema["items"] = NodeSchema(node.children.front(), plan, numbers, text);
        return schema;
    }
    case JsonNode::kObject: break;
    }
    ordered_json properties = ordered_json::object();
    ordered_json required = ordered_json::array();
    for (const JsonNode& child : node.children) {
        properties[child.key] = NodeSchema(child, plan, numbers, text);
        required.push_back(child.key);
    }
    return {{"type", "object"}, {"properties", properties}, {"required", required}, {"additionalProperties", false}};
}

ordered_json RowSchema(const LayoutPlan& plan, JsonNumbers numbers, const TextBytes& text, const std::string& record) {
    JsonNode top;
    top.kind = JsonNode::kObject;
    top.children = plan.roots;
    ordered_json schema = NodeSchema(top, plan, numbers, text);
    if (!record.empty()) {
        // A row of a file of record types names its record first.
        ordered_json properties = {{"record", {{"const", record}}}};
        for (auto& entry : schema["properties"].items()) properties[entry.key()] = entry.value();
        schema["properties"] = properties;
        schema["required"].insert(schema["required"].begin(), "record");
    }
    return schema;
}

// The columns: name, kind, offset (from 0), length, usage, picture; TSV with a header.
std::string ColumnList(const LayoutPlan& plan, const std::string& record) {
    static const char* const kinds[] = {"display", "packed", "binary", "comp-5", "float", "double", "text",
                                        "national", "bits", "boolean"};
    std::string text;
    for (const Field& field : plan.fields) {
        const ItemFlagName* usage = UsageNameOf(field.item->flags);
        if (!record.empty()) text += record + "\t";
        text += field.column + "\t" + kinds[field.kind] + "\t" + std::to_string(field.offset) + "\t" +
                std::to_string(field.length) + "\t" + (usage != nullptr ? usage->name : "DISPLAY") + "\t" +
                ShiftJisToUtf8(ItemText(field.item->picture).Get()) + "\n";
    }
    return text;
}

void WriteSchema(const SchemaOptions& options, LoadedCopybook& copybook) {
    if (options.format == "sql") {
        TableDdl ddl{options.table.empty() ? std::string("T") : options.table, options.serialNo, options.quoteNames,
                     options.dialect, options.columns, options.copybook.cobol};
        if (!WriteTableDdl(stdout, copybook, ddl)) throw CommandFailure{"", "writing to standard output failed"};
        return;
    }
    DataOptions data;
    data.redefinesAll = options.redefines == "all";
    data.serialNo = options.serialNo;
    data.noFiller = options.columns.noFiller;
    data.naming = options.columns.Naming();
    ParseJsonNumbers(options.jsonNumbers, data.jsonNumbers);
    data.variableOccurs = VariableOccursOf(copybook.Analyzer());
    // Under the COBOL rules several 01 records are the record types of one file.
    std::vector<CopyItem*> records = RecordsOf(copybook.Head());
    bool types = options.copybook.cobol && records.size() > 1 && records[1]->position == 1;
    std::vector<std::pair<std::string, std::unique_ptr<DataSetup>>> tables;
    auto prepare = [&](CopyItem* head, int length, const std::string& record) {
        std::unique_ptr<DataSetup> setup(new DataSetup);
        std::string error;
        if (!setup->Prepare(head, length, data, error)) throw CommandFailure{"", error};
        tables.emplace_back(record, std::move(setup));
    };
    if (types) {
        for (CopyItem* record : records) {
            WithRecordAlone(record, [&] { prepare(record, record->byteLength, RecordName(record)); });
        }
    } else {
        prepare(copybook.Head(), static_cast<int>(copybook.RecordLength()), "");
    }
    std::string text;
    if (options.format == "columns") {
        text = std::string(types ? "record\t" : "") + "name\tkind\toffset\tlength\tusage\tpicture\n";
        for (const auto& table : tables) text += ColumnList(table.second->Plan(), table.first);
    } else {
        const TextBytes textBytes = TextBytesOf(options.encoding);
        ordered_json schema = {{"$schema", "https://json-schema.org/draft/2020-12/schema"},
                               {"title", ArgumentToUtf8(options.copybook.name)}};
        if (types) {
            ordered_json one = ordered_json::array();
            for (const auto& table : tables) one.push_back(RowSchema(table.second->Plan(), data.jsonNumbers, textBytes, table.first));
            schema["oneOf"] = one;
        } else {
            ordered_json row = RowSchema(tables.front().second->Plan(), data.jsonNumbers, textBytes, "");
            for (auto& entry : row.items()) schema[entry.key()] = entry.value();
        }
        text = schema.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    }
    WriteOut(text);
}

}  // namespace

void AddSchemaCommand(CLI::App& program) {
    auto options = std::make_shared<SchemaOptions>();
    CLI::App* command = program.add_subcommand(
        "schema", "the table of the copybook's data, to standard output: a JSON Schema of a JSON Lines row, SQL, or "
                  "the columns");
    command->add_option("--format", options->format,
                        "json-schema (default: draft 2020-12, one row of decode --format jsonl), sql (the CREATE "
                        "TABLE of --dialect), or columns (name, kind, offset, length, usage, picture as TSV)")
        ->check(CLI::IsMember({"json-schema", "sql", "columns"}));
    command->add_option("--dialect", options->dialect, "--format sql: generic (default), sqlite, postgresql or db2")
        ->check(CLI::IsMember({"generic", "sqlite", "postgresql", "db2"}));
    command->add_option("--table", options->table, "--format sql: the table name (default T)");
    command->add_flag("--quote-names", options->quoteNames, "--format sql: every name in double quotes");
    command->add_flag("--serial-no", options->serialNo, "number array columns by the item's running number");
    command->add_option("--redefines", options->redefines, "first (default) or all: every REDEFINES view")
        ->check(CLI::IsMember({"first", "all"}));
    command->add_option("--json-numbers", options->jsonNumbers,
                        "which numbers are JSON strings, as decode's option: exact (default), number, string")
        ->check(CLI::IsMember({"exact", "number", "string"}));
    command->add_option("--encoding", options->encoding,
                        std::string("the code page of the data's text, as decode's option (default cp932): the text "
                                    "columns' maxLength is exact where every character takes one byte, and says "
                                    "its bytes where not; ") +
                            TextCodec::Names())
        ->check(CLI::Validator(
            [](std::string& value) {
                std::string error;
                return TextCodec::Create(value, error) ? std::string() : error;
            },
            "CODEPAGE"));
    AddTableColumnOptions(command, options->columns);
    AddCopybookArgument(command, options->copybook);
    OnLoadedCopybook(command, options, [](const auto& options, LoadedCopybook& copybook) { WriteSchema(*options, copybook); });
}
