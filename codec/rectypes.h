// Data files whose records are of several types: a copybook with several 01 records
// describes them, and a field of the part the records share (a record-type code) tells
// which 01 lays out each record. Rules (FIELD=VALUE:RECORD, the first that matches) and
// a default choose the record; each record type has its own columns and table.
#ifndef QUILLBOX_CODEC_RECTYPES_H
#define QUILLBOX_CODEC_RECTYPES_H

#include <memory>
#include <string>
#include <vector>

#include "datacodec.h"
#include "valuecodec.h"

namespace quillbox {

// Parses "FIELD=VALUE:RECORD" (VALUE may hold '=' and ':'; the first '=' and the last
// ':' part it); false when a part is missing.
bool ParseRecordTypeRule(const std::string& text, RecordTypeRule& rule);

// The 01 records of an analysed list, in order.
std::vector<CopyItem*> RecordsOf(CopyItem* head);

// The UTF-8 name of a record as its table and file are named.
std::string RecordName(const CopyItem* record);

// While it lives, the list from `record` is that record alone (its items, no later
// record); the list is put back as it was when it ends. The list is not to be read by
// anything else meanwhile.
class RecordAlone {
public:
    explicit RecordAlone(CopyItem* record) : record_(record), last_(record), sibling_(record->nextSibling) {
        while (last_->next != nullptr && last_->next->parent != nullptr) last_ = last_->next;
        after_ = last_->next;
        last_->next = nullptr;
        record_->nextSibling = nullptr;
    }
    ~RecordAlone() {
        last_->next = after_;
        record_->nextSibling = sibling_;
    }
    RecordAlone(const RecordAlone&) = delete;
    RecordAlone& operator=(const RecordAlone&) = delete;

private:
    CopyItem* record_;
    CopyItem* last_;
    CopyItem* sibling_;
    CopyItem* after_ = nullptr;
};

// Calls `use` with the list of `record` alone (RecordAlone).
template <typename Use>
void WithRecordAlone(CopyItem* record, Use use);

// The setups of the record types of a layout and the rules that choose among them.
class RecordTypes {
public:
    RecordTypes();
    ~RecordTypes();
    // One setup per 01 record of the list from `head`; the rules and the default
    // checked against the records and their columns. False with `error` when a rule
    // names a record or a field the layout lacks, or a setup cannot be made.
    bool Prepare(CopyItem* head, const DataOptions& options, std::string& error);

    size_t Count() const { return types_.size(); }
    // The type's name, which names its table, its file and the "record" key of its rows:
    // the 01 record's name, numbered where another record has it too in any case (HDR
    // and Hdr are HDR and Hdr_2, as SQL and a file system that ignores case tell them).
    const std::string& Name(size_t type) const { return types_[type].name; }
    DataSetup& Setup(size_t type) { return *types_[type].setup; }
    int Length(size_t type) const { return types_[type].length; }
    // The longest record: the length of a fixed-length file's records.
    int MaxLength() const { return maxLength_; }
    // Whether a rule or the default can choose the type (decode gives it a table).
    bool Chosen(size_t type) const { return types_[type].chosen; }
    // Whether rules choose the types (else the default takes every record).
    bool HasRules() const { return !rules_.empty(); }
    // The type named `name`: its Name() or its record's name as written, else either
    // with case folded; -1 when none.
    int Find(const std::string& name) const;

    // The type of a record of `length` bytes; -1 when it has none, with `fault` and the
    // field it is in (null for a record too short to hold the field).
    int Choose(const unsigned char* data, size_t length, const Field*& field, Fault& fault);

private:
    struct Type {
        CopyItem* record = nullptr;
        std::string name;
        std::string recordName;   // the record's own name, before numbering
        int length = 0;
        bool chosen = false;
        std::unique_ptr<DataSetup> setup;
    };
    struct Rule {
        size_t keyType;      // the type whose plan holds the field
        size_t keyField;     // the field's column in that plan
        std::string value;
        size_t type;         // the record chosen
    };
    std::vector<Type> types_;
    std::vector<Rule> rules_;
    int default_ = -1;
    int maxLength_ = 0;
    Cell cell_;
};

// Decodes the records from `reader` (made with MaxLength()) into `sinks`, one per type
// (null for a type no rule chooses), `options.skip` and `options.count` applied. A
// record no rule and no default choose is bad data in its type field; a variable record
// whose length is not its type's is a bad record.
RunResult DecodeRecordTypes(RecordTypes& types, RecordReader& reader, const std::vector<RowSink*>& sinks,
                            RunObserver& observer);

// The sinks of one JSON Lines stream that names each row's record in a "record" key
// before its values: one per type, writing to `out` in the order of the rows.
std::vector<std::unique_ptr<RowSink>> MakeRecordKeySinks(RecordTypes& types, std::FILE* out);

// Encodes JSON lines, each naming its record in a "record" key, into records of their
// types' layouts on `writer` (a fixed-length file's records are all MaxLength(), the
// rest blank).
RunResult EncodeRecordTypes(RecordTypes& types, std::FILE* in, RecordWriter& writer, RunObserver& observer);

// Takes the "record" member out of the JSON object `line`: its string value into
// `record`. False when the line has no such member (or its value is no plain string).
bool TakeRecordKey(std::string& line, std::string& record);

template <typename Use>
void WithRecordAlone(CopyItem* record, Use use) {
    RecordAlone alone(record);
    use();
}

}  // namespace quillbox

#endif
