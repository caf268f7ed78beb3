// quillbox-cli json: every shown item with every field, as JSON (UTF-8).
//
// The document is written with one line per item, each item an ordered JSON value
// written as soon as it is made.
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

// "RENAMES a THRU b" as {"from": a, "thru": b} (thru null without THRU): the names of
// the items the analysis renamed, whole (the item's `picture` may cut them).
Json RenamesRange(const CopyItem* item, const CobolAnalyzer& analyzer) {
    const CobolRenamesRange range = analyzer.RenamesRange(item);
    return Json{{"from", range.from != nullptr ? Text(range.from->name) : Json(nullptr)},
                {"thru", range.thru != nullptr ? Text(range.thru->name) : Json(nullptr)}};
}

// The facts of the COBOL rules, after the fields every item has.
void AddCobolFields(Json& object, const CopyItem* item, CobolAnalyzer& analyzer) {
    const unsigned f = item->flags;
    object["condition"] = (f & ITEM_CONDITION) ? ConditionValues(item, analyzer) : Json(nullptr);
    object["renames"] = (f & ITEM_RENAMES) ? RenamesRange(item, analyzer) : Json(nullptr);
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

// The document, written as it is made: its fields one per line, then the items one
// per line, each as soon as it is made, so that the whole document is never held.
class DocumentWriter {
public:
    void Field(const std::string& key, const Json& value) {
        out_ += fields_++ == 0 ? "{\n" : ",\n";
        out_ += "  " + OneLine(Json(key)) + ": " + OneLine(value);
    }
    // The last field, "items": an array of the items given to Item.
    void BeginItems() {
        Field("items", Json::array());
        out_.resize(out_.size() - 1);  // "[" stays open for the items
    }
    void Item(const Json& item) {
        out_ += items_++ == 0 ? "\n    " : ",\n    ";
        out_ += OneLine(item);
        if (out_.size() >= 65536) Flush();
    }
    void End() {
        out_ += items_ == 0 ? "]" : "\n  ]";
        out_ += "\n}\n";
        Flush();
    }

private:
    void Flush() {
        WriteOut(out_);
        out_.clear();
    }
    std::string out_;
    int fields_ = 0;
    long items_ = 0;
};

}  // namespace

void AddJsonCommand(CLI::App& program) {
    auto options = std::make_shared<JsonOptions>();
    CLI::App* command = AddRowsCommand(program, "json", "every shown item with every field, as JSON (UTF-8)", options);
    command->footer(
        "The output is always valid UTF-8: item texts are converted from Shift_JIS, and a byte\n"
        "that is no character there (or of a file name that is not UTF-8) is written as\n"
        "U+FFFD, the replacement character.");
    OnLoadedCopybook(command, options, [](const auto& options, LoadedCopybook& copybook) {
        DocumentWriter document;
        document.Field("file", ArgumentToUtf8(options->copybook.name));
        document.Field("recordLength", copybook.RecordLength());
        document.Field("arrayExpansion", options->expand);
        document.BeginItems();
        int row = 0;
        for (const CopyItem* item = FirstShownItem(copybook.Head(), options->expand); item != nullptr;
             item = NextShownItem(item, options->expand)) {
            Json object = ItemObject(item, ++row);
            if (CobolAnalyzer* cobol = copybook.Cobol()) AddCobolFields(object, item, *cobol);
            document.Item(object);
        }
        document.End();
    });
}
