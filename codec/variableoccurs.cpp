// Records of OCCURS ... DEPENDING ON tables: the counts of a record, the places of its
// items, and the JSON of its present occurrences.
#include "variableoccurs.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "cobolrules.h"
#include "tableio.h"
#include "textcodec.h"

namespace quillbox {

bool ParseOdoRecords(const std::string& text, OdoRecords& odo) {
    if (text == "variable") odo = OdoRecords::kVariable;
    else if (text == "max") odo = OdoRecords::kMax;
    else return false;
    return true;
}

std::vector<VariableOccurs> VariableOccursOf(CopyAnalyzer& analyzer) {
    std::vector<VariableOccurs> tables;
    const CobolAnalyzer* cobol = dynamic_cast<const CobolAnalyzer*>(&analyzer);
    if (cobol == nullptr) return tables;
    for (CopyItem* item = analyzer.GetHead(); item != nullptr; item = item->next) {
        if ((item->flags & ITEM_VARIABLE) && !(item->flags & (ITEM_CONDITION | ITEM_RENAMES))) {
            tables.push_back(VariableOccurs{item, cobol->DependingOn(item), cobol->OccursMinimum(item)});
        }
    }
    return tables;
}

namespace {

// A name as COBOL compares names: ASCII letters in upper case.
std::string NameKey(const char* name) {
    std::string key = name;
    for (char& c : key) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return key;
}

bool IntegerKind(Field::Kind kind) {
    return kind == Field::kDisplay || kind == Field::kPacked || kind == Field::kBinary || kind == Field::kComp5;
}

}  // namespace

bool VariableRecords::Build(CopyItem* head, const LayoutPlan& plan, const DataOptions& options, std::string& error) {
    plan_ = &plan;
    recordLength_ = plan.recordLength;
    std::unordered_map<const CopyItem*, const VariableOccurs*> described;
    for (const VariableOccurs& table : options.variableOccurs) described[table.item] = &table;
    std::unordered_map<const CopyItem*, int> columnOf;
    for (size_t i = 0; i < plan.fields.size(); ++i) columnOf[plan.fields[i].item] = static_cast<int>(i);

    std::unordered_map<const CopyItem*, int> nodeOf;
    std::unordered_map<std::string, int> lastColumnNamed;   // integer items outside tables, by name
    std::unordered_map<int, int> tableUnder;                // a parent node's latest DEPENDING ON table
    bool below01 = false;                                   // a top item is no 01 record
    for (CopyItem* item = head; item != nullptr; item = item->next) {
        if (item->flags & (ITEM_CONDITION | ITEM_RENAMES)) continue;
        Node node;
        node.offset = item->position - 1;
        node.length = item->byteLength;
        auto column = columnOf.find(item);
        if (column != columnOf.end() && !(item->flags & ITEM_GROUP)) node.column = column->second;
        if (item->redefines != nullptr) {
            auto target = nodeOf.find(item->redefines);
            if (target != nodeOf.end()) node.redefines = target->second;
        }
        int parent = -1;
        if (item->parent != nullptr) {
            auto found = nodeOf.find(item->parent);
            if (found != nodeOf.end()) parent = found->second;
        }
        int index = static_cast<int>(nodes_.size());
        if (item->flags & ITEM_VARIABLE) {
            auto table = described.find(item);
            std::string name = ShiftJisToUtf8(item->name);
            if (table == described.end()) {
                error = "the table " + name +
                        " is OCCURS ... DEPENDING ON, and its counter is not given (VariableOccursOf)";
                return false;
            }
            auto current = tableUnder.find(parent);
            if (item->elementNo <= 1 || current == tableUnder.end() || tables_[current->second].name != name ||
                tables_[current->second].maximum + 1 != item->elementNo) {
                Table added;
                added.name = name;
                added.counterName = ShiftJisToUtf8(table->second->object.c_str());
                added.minimum = table->second->minimum;
                auto counter = lastColumnNamed.find(NameKey(table->second->object.c_str()));
                if (counter == lastColumnNamed.end()) {
                    error = "the counter " + added.counterName + " of the table " + name +
                            " (OCCURS ... DEPENDING ON) is no item before the table in the record, outside every table";
                    return false;
                }
                const Field& field = plan.fields[static_cast<size_t>(counter->second)];
                if (!IntegerKind(field.kind) || field.scale != 0) {
                    error = "the counter " + added.counterName + " of the table " + name + " is no integer item";
                    return false;
                }
                added.counter = counter->second;
                tableUnder[parent] = static_cast<int>(tables_.size());
                tables_.push_back(added);
            }
            node.table = tableUnder[parent];
            node.element = item->elementNo;
            tables_[static_cast<size_t>(node.table)].maximum = item->elementNo;
        }
        if (node.column >= 0 && item->elementNo == 0 && item->dimension == 0) {
            lastColumnNamed[NameKey(item->name)] = node.column;
        }
        nodeOf[item] = index;
        nodes_.push_back(node);
        if (parent >= 0) nodes_[static_cast<size_t>(parent)].children.push_back(index);
        else {
            roots_.push_back(index);
            if (item->level != 1) below01 = true;
        }
    }
    if (tables_.empty()) return true;
    // A copybook that starts below 01 is one record of its top items: they are walked as
    // the items of one group, so that a table among them moves those after it.
    if (below01) {
        Node record;
        record.offset = 0;
        record.length = recordLength_;
        record.children = roots_;
        roots_.assign(1, static_cast<int>(nodes_.size()));
        nodes_.push_back(std::move(record));
    }
    if (options.odo == OdoRecords::kVariable && options.records == RecordFormat::kFixed) {
        error = "records with OCCURS ... DEPENDING ON of their present length need records that carry their "
                "length (--records rdw, rdw-block or lines); fixed records are read with --odo max";
        return false;
    }
    variable_ = options.odo == OdoRecords::kVariable ||
                (options.odo == OdoRecords::kAuto && options.records != RecordFormat::kFixed);
    starts_.assign(nodes_.size(), 0);
    absent_.assign(plan.fields.size(), 0);
    absentBy_.assign(plan.fields.size(), -1);
    stored_.assign(plan.fields.size(), 0);
    buffer_.assign(static_cast<size_t>(recordLength_) + 16, 0);
    return true;
}

void VariableRecords::Fail(int column, long long offset, std::string reason, FaultCode code) {
    if (broken_) return;
    broken_ = true;
    // The item at fault has no value: under OnError::kNull it is left empty.
    if (column >= 0) {
        absent_[static_cast<size_t>(column)] = 1;
        absentBy_[static_cast<size_t>(column)] = kUnplaced;
    }
    fault_.column = column;
    fault_.offset = static_cast<int>(offset);
    fault_.reason = std::move(reason);
    fault_.code = code;
}

bool VariableRecords::CountOf(int t, long long& count) {
    const Table& table = tables_[static_cast<size_t>(t)];
    if (mode_ == kCompact) {
        count = nextCount_ < counts_.size() ? counts_[nextCount_++] : 0;
        return true;
    }
    const Field& field = plan_->fields[static_cast<size_t>(table.counter)];
    long long at = stored_[static_cast<size_t>(table.counter)];
    const std::string* text;
    if (mode_ == kCount) {
        const Cell& cell = (*cells_)[static_cast<size_t>(table.counter)];
        if (cell.kind == Cell::kNull) {
            Fail(table.counter, at, "no value for " + table.counterName + ", the count of " + table.name, FaultCode::kCounterRange);
            return false;
        }
        text = &cell.text;
    } else {
        Fault fault;
        const unsigned char* record = mode_ == kDecodeVariable ? out_ : data_;
        if (!values_->Decode(field, record, cell_, fault)) {
            Fail(table.counter, at + (fault.offset - field.offset), fault.reason, fault.code);
            return false;
        }
        text = &cell_.text;
    }
    bool negative = false;
    uint64_t magnitude = 0;
    std::string reason;
    if (!ParseDecimal(*text, 0, negative, magnitude, reason)) {
        Fail(table.counter, at, table.counterName + ", the count of " + table.name + ": " + reason, FaultCode::kCounterRange);
        return false;
    }
    if ((negative && magnitude != 0) || magnitude < static_cast<uint64_t>(table.minimum) ||
        magnitude > static_cast<uint64_t>(table.maximum)) {
        Fail(table.counter, at,
             table.counterName + " = " + *text + " is outside the count of " + table.name + " (OCCURS " +
                 std::to_string(table.minimum) + " TO " + std::to_string(table.maximum) + " DEPENDING ON " +
                 table.counterName + ")",
             FaultCode::kCounterRange);
        return false;
    }
    count = static_cast<long long>(magnitude);
    counts_.push_back(count);
    return true;
}

void VariableRecords::Visit(const Node& node, long long start, int absentBy) {
    if (node.column >= 0) {
        size_t column = static_cast<size_t>(node.column);
        absent_[column] = absentBy != -1;
        absentBy_[column] = absentBy;
        stored_[column] = static_cast<int>(variable_ ? start : node.offset);
    }
    if (absentBy != -1) return;
    if (start < 0 || node.offset < 0 || node.length < 0 || node.offset + node.length > recordLength_) {
        // Not met in a layout the analysis gives; no byte outside the buffers is touched.
        Fail(node.column, start, "the item lies outside the record", FaultCode::kRecordLength);
        return;
    }
    if (mode_ == kDecodeVariable) {
        if (start + node.length > static_cast<long long>(length_)) {
            Fail(node.column, start,
                 "the record of " + std::to_string(length_) + " bytes ends before this item, which its counts place at bytes " +
                     std::to_string(start + 1) + " to " + std::to_string(start + node.length),
                 FaultCode::kShortRecord);
            if (node.column >= 0) {
                absent_[static_cast<size_t>(node.column)] = 1;
                absentBy_[static_cast<size_t>(node.column)] = kUnplaced;
            }
            return;
        }
        if (node.length > 0) std::memcpy(out_ + node.offset, data_ + start, static_cast<size_t>(node.length));
    } else if (mode_ == kCompact) {
        if (node.length > 0) std::memcpy(out_ + start, data_ + node.offset, static_cast<size_t>(node.length));
        end_ = std::max(end_, start + node.length);
    }
}

long long VariableRecords::Walk(int g, long long start, int absentBy) {
    const Node& node = nodes_[static_cast<size_t>(g)];
    if (node.children.empty()) {
        Visit(node, start, absentBy);
        return node.length;
    }
    long long shrink = 0, runCount = 0;
    int runTable = -1;
    for (int c : node.children) {
        const Node& child = nodes_[static_cast<size_t>(c)];
        int childBy = absentBy != -1 ? absentBy : broken_ ? kUnplaced : -1;
        if (child.table >= 0) {
            if (child.table != runTable) {
                runTable = child.table;
                runCount = 0;
                if (childBy == -1 && !CountOf(child.table, runCount)) childBy = kUnplaced;
            }
            if (childBy == -1 && child.element > runCount) childBy = child.table;
        }
        long long childStart =
            child.redefines >= 0 ? starts_[static_cast<size_t>(child.redefines)] : start + (child.offset - node.offset) - shrink;
        starts_[static_cast<size_t>(c)] = childStart;
        long long size = Walk(c, childStart, childBy);
        if (child.redefines >= 0) continue;
        shrink += childBy != -1 ? child.length : child.length - size;
    }
    return node.length - shrink;
}

bool VariableRecords::Run(Mode mode) {
    mode_ = mode;
    broken_ = false;
    fault_ = PlaceFault();
    end_ = 0;
    if (mode != kCompact) counts_.clear();
    nextCount_ = 0;
    storedLength_ = 0;
    for (int root : roots_) {
        starts_[static_cast<size_t>(root)] = 0;
        storedLength_ = std::max(storedLength_, Walk(root, 0, -1));
    }
    return !broken_;
}

bool VariableRecords::Place(const unsigned char* data, size_t length, ValueCodec& values,
                            const unsigned char*& placed, PlaceFault& fault) {
    values_ = &values;
    data_ = data;
    length_ = length;
    bool ok;
    if (!variable_) {
        placed = data;
        ok = Run(kDecodeMax);
    } else {
        std::memset(buffer_.data(), 0, buffer_.size());
        out_ = buffer_.data();
        placed = out_;
        ok = Run(kDecodeVariable);
        if (ok && storedLength_ != static_cast<long long>(length)) {
            Fail(-1, storedLength_,
                 "a record of " + std::to_string(length) + " bytes, its counts make " + std::to_string(storedLength_),
                 FaultCode::kRecordLength);
            ok = false;
        }
    }
    if (!ok) fault = fault_;
    return ok;
}

bool VariableRecords::Count(const std::vector<Cell>& cells, PlaceFault& fault) {
    cells_ = &cells;
    if (!Run(kCount)) {
        fault = fault_;
        return false;
    }
    for (size_t i = 0; i < absent_.size(); ++i) {
        if (!absent_[i] || cells[i].kind == Cell::kNull) continue;
        const Table& table = tables_[static_cast<size_t>(absentBy_[i])];
        fault.column = static_cast<int>(i);
        fault.offset = stored_[i];
        fault.reason = "a value for an occurrence of " + table.name + " past its count (" + table.counterName +
                       " = " + (*cells_)[static_cast<size_t>(table.counter)].text + ")";
        fault.code = FaultCode::kCounterRange;
        return false;
    }
    return true;
}

const unsigned char* VariableRecords::Compact(const unsigned char* full, size_t& length) {
    data_ = full;
    out_ = buffer_.data();
    Run(kCompact);
    length = static_cast<size_t>(storedLength_);
    return out_;
}

namespace {

bool HasPresent(const JsonNode& node, const std::vector<unsigned char>& absent) {
    if (node.kind == JsonNode::kLeaf) return node.field >= 0 && !absent[static_cast<size_t>(node.field)];
    for (const JsonNode& child : node.children) {
        if (HasPresent(child, absent)) return true;
    }
    return false;
}

void PutValue(std::string& out, const JsonNode& node, const LayoutPlan& plan, const RowCells& cells,
              const std::vector<unsigned char>& absent, JsonNumbers numbers) {
    switch (node.kind) {
    case JsonNode::kLeaf: {
        size_t i = static_cast<size_t>(node.field);
        if (node.field < 0 || absent[i] || cells.Kind(i) == Cell::kNull) {
            out += "null";
            return;
        }
        std::string text = cells.String(i);
        // Numbers as they are, but for the floating point values JSON has no number for.
        bool special = text == "NaN" || text == "Infinity" || text == "-Infinity";
        if (cells.Kind(i) == Cell::kNumber && !special && !JsonNumberAsString(plan.fields[i], numbers)) out += text;
        else AppendJsonString(out, text);
        return;
    }
    case JsonNode::kObject: {
        out.push_back('{');
        bool first = true;
        for (const JsonNode& child : node.children) {
            if (!first) out.push_back(',');
            first = false;
            AppendJsonString(out, child.key);
            out.push_back(':');
            PutValue(out, child, plan, cells, absent, numbers);
        }
        out.push_back('}');
        return;
    }
    case JsonNode::kArray: {
        out.push_back('[');
        bool first = true;
        for (const JsonNode& child : node.children) {
            if (!HasPresent(child, absent)) continue;
            if (!first) out.push_back(',');
            first = false;
            PutValue(out, child, plan, cells, absent, numbers);
        }
        out.push_back(']');
        return;
    }
    }
}

}  // namespace

void AppendJsonRowPresent(std::string& out, const LayoutPlan& plan, const RowCells& cells,
                          const std::vector<unsigned char>& absent, JsonNumbers numbers) {
    out.push_back('{');
    bool first = true;
    for (const JsonNode& root : plan.roots) {
        if (!first) out.push_back(',');
        first = false;
        AppendJsonString(out, root.key);
        out.push_back(':');
        PutValue(out, root, plan, cells, absent, numbers);
    }
    out += "}\n";
}

}  // namespace quillbox
