// quillbox-cli json: every shown item with every field, as JSON (UTF-8).
//
// The document is built as an ordered JSON value and written with one line per item.
// Texts are converted from Shift_JIS; a byte that is no character there, and any
// byte sequence that is not UTF-8 (a file name, say), is written as U+FFFD, so the
// output is always valid UTF-8.
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli_common.h"
#include "commands.h"
#include "quillbox.h"

namespace {

using Json = nlohmann::ordered_json;

struct JsonOptions {
    CopybookArgument copybook;
    bool expand = false;
};

// A 64-byte text field of an item.
Json Text(const char (&field)[64]) { return SystemToUtf8(ItemText(field).Get()); }

Json Category(unsigned flags) {
    const ItemFlagName* category = ItemCategory(flags);
    if (category == nullptr) return Json(nullptr);
    std::string name = category->name;
    // The COBOL rules' finer categories (bits the default analysis leaves 0); condition
    // names and RENAMES items have no storage and take neither.
    if ((flags & ITEM_ALPHABETIC) && name == "alphanumeric") name = "alphabetic";
    if ((flags & ITEM_EDITED) && name != "group" && name != "condition" && name != "renames") name += "-edited";
    return Json(name);
}

// Every usage of the item.
Json Usages(unsigned flags) {
    const ItemFlagName* names[USAGE_NAME_COUNT];
    const int count = UsageNamesOf(flags, names);
    Json list = Json::array();
    for (int i = 0; i < count; ++i) list.push_back(names[i]->name);
    return list;
}

// The words of an item text: literals in quotes or apostrophes stay whole.
std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < text.size()) {
        if (text[at] == ' ') {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && text[end] != ' ') {
            if (text[end] == '\'' || text[end] == '"') {
                // To the closing quote; a doubled quote stands for itself.
                const char quote = text[end++];
                while (end < text.size()) {
                    if (text[end] == quote && (end + 1 >= text.size() || text[end + 1] != quote)) break;
                    end += text[end] == quote ? 2 : 1;
                }
            }
            if (end < text.size()) ++end;
        }
        words.push_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

bool IsThru(const std::string& word) {
    return CompareNoCase(word.c_str(), "THRU") == 0 || CompareNoCase(word.c_str(), "THROUGH") == 0;
}

// A condition name's values, every one as written: "'A' 'X' THRU 'Z'" gives
// ["'A'", ["'X'", "'Z'"]]; the value of WHEN SET TO FALSE is {"whenSetToFalse": "'N'"}.
Json ConditionValues(const CopyItem* item, const CobolAnalyzer& analyzer) {
    Json values = Json::array();
    for (const CobolConditionValue& v : analyzer.ConditionValues(item)) {
        Json value = v.thru.empty() ? Json(SystemToUtf8(v.value)) : Json::array({SystemToUtf8(v.value), SystemToUtf8(v.thru)});
        values.push_back(v.whenFalse ? Json{{"whenSetToFalse", value}} : value);
    }
    return values;
}

// "RENAMES a THRU b" as {"from": a, "thru": b} (thru null without THRU).
Json RenamesRange(const CopyItem* item) {
    std::vector<std::string> words = Words(Text(item->picture).get<std::string>());
    Json range{{"from", words.size() > 1 ? Json(words[1]) : Json(nullptr)}, {"thru", nullptr}};
    if (words.size() > 3 && IsThru(words[2])) range["thru"] = words[3];
    return range;
}

// The facts of the COBOL rules, after the fields every item has.
void AddCobolFields(Json& object, const CopyItem* item, CobolAnalyzer& analyzer) {
    const unsigned f = item->flags;
    object["condition"] = (f & ITEM_CONDITION) ? ConditionValues(item, analyzer) : Json(nullptr);
    object["renames"] = (f & ITEM_RENAMES) ? RenamesRange(item) : Json(nullptr);
    object["signSeparate"] = (f & SIGN_SEPARATE) != 0;
    object["signLeading"] = (f & SIGN_LEADING) != 0;
    object["sync"] = (f & ITEM_SYNC) != 0;
    object["variableOccurs"] =
        (f & ITEM_VARIABLE) ? Json{{"dependingOn", SystemToUtf8(analyzer.DependingOn(item))}} : Json(nullptr);
}

Json ItemObject(const CopyItem* item, int row) {
    const unsigned f = item->flags;
    Json object;
    object["row"] = row;
    object["serialNo"] = item->serialNo;
    object["level"] = item->level;
    object["name"] = Text(item->name);
    object["picture"] = Text(item->picture);
    object["category"] = Category(f);
    object["usage"] = Usages(f);
    object["signed"] = (f & ITEM_SIGNED) != 0;
    object["array"] = (f & ITEM_ARRAY) != 0;
    object["digits"] = item->digits;
    object["scale"] = item->scale;
    object["byteLength"] = item->byteLength;
    object["position"] = item->position;
    object["elementNo"] = item->elementNo;
    object["dimension"] = item->dimension;
    object["occursCount"] = item->occursCount;
    if (item->redefines != nullptr) {
        object["redefines"] = Json{{"serialNo", item->redefines->serialNo}, {"name", Text(item->redefines->name)}};
    } else {
        object["redefines"] = nullptr;
    }
    object["remark"] = Text(item->remark);
    object["flags"] = f;
    return object;
}

// A value on one line, with a blank after every ":" and ",".
std::string OneLine(const Json& value) {
    std::string out;
    if (value.is_object()) {
        out += "{";
        bool first = true;
        for (const auto& member : value.items()) {
            if (!first) out += ", ";
            first = false;
            out += Json(member.key()).dump(-1, ' ', false, Json::error_handler_t::replace) + ": " + OneLine(member.value());
        }
        return out + "}";
    }
    if (value.is_array()) {
        out += "[";
        for (std::size_t i = 0; i < value.size(); ++i) out += (i == 0 ? "" : ", ") + OneLine(value[i]);
        return out + "]";
    }
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// The document: its fields one per line, the items one per line.
std::string DocumentText(const Json& document) {
    std::string out = "{\n";
    bool first = true;
    for (const auto& member : document.items()) {
        if (!first) out += ",\n";
        first = false;
        out += "  " + OneLine(Json(member.key())) + ": ";
        const Json& value = member.value();
        if (value.is_array() && !value.empty()) {
            out += "[";
            for (std::size_t i = 0; i < value.size(); ++i) out += (i == 0 ? "\n    " : ",\n    ") + OneLine(value[i]);
            out += "\n  ]";
        } else {
            out += OneLine(value);
        }
    }
    return out + "\n}\n";
}

}  // namespace

void AddJsonCommand(CLI::App& program) {
    auto options = std::make_shared<JsonOptions>();
    CLI::App* command = AddRowsCommand(program, "json", "every shown item with every field, as JSON (UTF-8)", options);
    command->footer(
        "The output is always valid UTF-8: item texts are converted from Shift_JIS, and a byte\n"
        "that is no character there (or of a file name that is not UTF-8) is written as\n"
        "U+FFFD, the replacement character.");
    OnLoadedCopybook(command, options, [](const auto& options, LoadedCopybook& copybook) {
        Json document;
        document["file"] = ArgumentToUtf8(options->copybook.name);
        document["recordLength"] = copybook.RecordLength();
        document["arrayExpansion"] = options->expand;
        Json items = Json::array();
        int row = 0;
        for (const CopyItem* item = FirstShownItem(copybook.Head(), options->expand); item != nullptr;
             item = NextShownItem(item, options->expand)) {
            items.push_back(ItemObject(item, ++row));
            if (CobolAnalyzer* cobol = copybook.Cobol()) AddCobolFields(items.back(), item, *cobol);
        }
        document["items"] = std::move(items);
        WriteOut(DocumentText(document));
    });
}
