// The record object: construction, names, the data file, the record buffer and item
// lookup by serial number and by qualified name.
#include <climits>
#include <cstring>

#include "cobolrules.h"
#include "engine_internal.h"

// Qualified names already looked up, so that a program reading many records by name
// pays the path walk once per name. Entries hold item pointers into the analyzer's
// list: the cache is emptied by SetCopybook (and whenever the list's head changes), so
// a layout must be replaced through SetCopybook, not through the analyzer directly.
//
// Entries are placed by a hash of the key's text. A second, smaller table remembers
// by the key's address which entry answered it last, so that a key held in the same
// place (a literal, typically) is answered by one text comparison. A standard
// unordered_map keyed by the text (string_view keys over owned strings) was measured
// in its place: bench/record_bench ByName ran at 373 MB/s against 670 MB/s with this
// table, so the table stays.
struct CopyRecordNameCache {
    static constexpr int kEntries = 256;
    static constexpr int kRecent = 128;
    static constexpr int kKeyCapacity = 56;
    static constexpr unsigned kProbes = 8;
    struct Entry {
        CopyItem* item;
        uint32_t hash;
        uint32_t length;
        char key[kKeyCapacity];   // terminated
    };
    struct Recent {
        const char* key;
        const Entry* entry;
    };
    CopyItem* head;
    Entry entries[kEntries];
    Recent recent[kRecent];
};

namespace {

constexpr int kMaxKeyLength = 1024;

// A segment of a qualified name read as an occurrence number: its value when it is
// a positive decimal number (INT_MAX when too large for an int), 0 otherwise.
long ReadOccurrence(const char* segment) {
    if (*segment == '\0') return 0;
    long value = 0;
    for (const char* p = segment; *p != '\0'; ++p) {
        if (!IsDecimalDigit(*p)) return 0;
        if (value < INT_MAX) value = value * 10 + (*p - '0');
    }
    return value > INT_MAX ? INT_MAX : value;
}

// A quick hash of a key for the name cache: its length, first and last eight bytes.
// Keys that share them share a cache entry and are told apart by comparing them whole.
uint32_t KeyHash(const char* key, size_t length) {
    uint64_t head = 0;
    uint64_t tail = 0;
    if (length >= 8) {
        std::memcpy(&head, key, 8);
        std::memcpy(&tail, key + length - 8, 8);
    } else {
        std::memcpy(&head, key, length);
    }
    uint64_t mixed = (head * 0x9E3779B97F4A7C15ull) ^ (tail * 0xC2B2AE3D27D4EB4Full) ^ length;
    mixed ^= mixed >> 29;
    mixed *= 0xBF58476D1CE4E5B9ull;
    return static_cast<uint32_t>(mixed >> 32);
}

// The place of a key's address in the table of recent keys.
inline unsigned RecentSlot(const char* key) {
    uint64_t address = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(key));
    return static_cast<unsigned>((address * 0x9E3779B97F4A7C15ull) >> 57);   // 0 to 127
}

// Notes which entry answered a key at this address: two places per address, the
// newer first.
void RememberRecent(CopyRecordNameCache* cache, const char* key, const CopyRecordNameCache::Entry* entry) {
    unsigned slot = RecentSlot(key);
    CopyRecordNameCache::Recent* first = &cache->recent[slot];
    CopyRecordNameCache::Recent* second = &cache->recent[slot ^ 1];
    if (first->key != key) *second = *first;
    *first = {key, entry};
}

}  // namespace

CopyRecord::CopyRecord(const char* dataFileName, const char* copybookFileName)
    : copybookAnalyzer(copybookFileName != nullptr ? copybookFileName : ""),
      dataFile(nullptr),
      dataFileName{},
      record(nullptr),
      nationalSpace(nullptr),
      recordLength(0),
      positiveZone(0x40),
      negativeZone(0x50),
      recordCapacity(0),
      bufferLimit(0),
      openMode(0),
      lastAccess(0),
      nationalSpaceBytes{kFullWidthSpace[0], kFullWidthSpace[1]},
      nameCache(nullptr),
      analysis(&copybookAnalyzer) {
    nationalSpace = nationalSpaceBytes;
    CopyTextIn(this->dataFileName, sizeof this->dataFileName, dataFileName);
    // The analyzer was given the copybook name on construction.
    if (copybookFileName != nullptr && copybookFileName[0] != '\0') {
        analysis->Analyze();
        recordLength = static_cast<int32_t>(analysis->GetRecordLength());
    }
}

CopyRecord::CopyRecord(const char* dataFileName, const char* copybookFileName, const CobolOptions& options)
    : CopyRecord(dataFileName, nullptr) {
    cobolAnalyzer.reset(new CobolAnalyzer(copybookFileName != nullptr ? copybookFileName : "", options));
    analysis = cobolAnalyzer.get();
    if (copybookFileName != nullptr && copybookFileName[0] != '\0') {
        analysis->Analyze();
        recordLength = static_cast<int32_t>(analysis->GetRecordLength());
    }
}

CopyRecord::~CopyRecord() {
    if (dataFile != nullptr) std::fclose(dataFile);
    ReleaseBytes(record);
    ReleaseBytes(nameCache);
}

CopyAnalyzer* CopyRecord::Analyzer() { return analysis; }

void CopyRecord::SetNationalSpace(const char* twoByteCharacter) {
    const char* source = twoByteCharacter != nullptr ? twoByteCharacter : kFullWidthSpace;
    nationalSpaceBytes[0] = source[0];
    nationalSpaceBytes[1] = source[1];
    nationalSpace = nationalSpaceBytes;
}

void CopyRecord::SetPositiveZone(unsigned short zone) { positiveZone = zone; }

void CopyRecord::SetNegativeZone(unsigned short zone) { negativeZone = zone; }

bool CopyRecord::SetDataFileName(const char* name) { return CopyTextIn(dataFileName, sizeof dataFileName, name); }

const char* CopyRecord::DataFileName() { return dataFileName; }

int CopyRecord::GetDataFileName(char* buffer, int size) { return CopyTextOut(dataFileName, buffer, size); }

bool CopyRecord::SetCopybook(const char* name) {
    // The new layout replaces the old one: empty the list before analysing, and
    // forget every item found by name in it.
    analysis->FreeItems();
    if (nameCache != nullptr) {
        std::memset(nameCache->entries, 0, sizeof nameCache->entries);
        std::memset(nameCache->recent, 0, sizeof nameCache->recent);
        nameCache->head = nullptr;
    }
    bool fitted = analysis->SetFileName(name != nullptr ? name : "");
    try {
        analysis->Analyze();
    } catch (...) {
        // A half-analysed list has no positions: leave no layout behind.
        analysis->FreeItems();
        recordLength = 0;
        throw;
    }
    recordLength = static_cast<int32_t>(analysis->GetRecordLength());
    // An open file keeps its buffer where it is: callers hold RecordBuffer(). A longer
    // record does not fit it until the next Open; items beyond it are refused, and
    // whole-record reads and writes fail, meanwhile.
    if (record != nullptr && recordCapacity > 0 && recordLength > recordCapacity - 10) {
        bufferLimit = recordCapacity - 10;
    } else {
        bufferLimit = 0;
    }
    return fitted;
}

const char* CopyRecord::CopybookFileName() { return analysis->FileName(); }

int CopyRecord::GetCopybookFileName(char* buffer, int size) {
    return analysis->GetFileName(buffer, size);
}

CopyItem* CopyRecord::GetHead() { return analysis->GetHead(); }

CopyItem* CopyRecord::FindItemBySerial(int serialNo) {
    if (serialNo <= 0) RAISE(CException, "インデックス値不当");
    for (CopyItem* item = analysis->GetHead(); item != nullptr; item = item->next) {
        if (item->serialNo == serialNo) return item;
    }
    return nullptr;
}

CopyItem* CopyRecord::FindItemByName(const char* key) {
    if (key == nullptr) return nullptr;
    CopyItem* head = analysis->GetHead();
    if (head == nullptr) return nullptr;
    if (nameCache != nullptr && nameCache->head == head) {
        unsigned slot = RecentSlot(key);
        for (unsigned way = 0; way < 2; ++way) {
            const CopyRecordNameCache::Recent& recent = nameCache->recent[slot ^ way];
            if (recent.key == key && recent.entry->item != nullptr && std::strcmp(recent.entry->key, key) == 0) {
                return recent.entry->item;
            }
        }
    }
    size_t length = std::strlen(key);
    if (length >= kMaxKeyLength) RAISE(CException, "キー名長過ぎ");
    return WalkName(key, length);
}

CopyItem* CopyRecord::FindItemByQualifiedName(const char* key) {
    std::string reason;
    return FindItemByQualifiedName(key, reason);
}

CopyItem* CopyRecord::FindItemByQualifiedName(const char* key, std::string& reason) {
    return FindQualifiedItem(analysis->GetHead(), key, reason);
}

// Finds a key by its text in the cache, or by the path walk of its qualified name,
// from the first item of the list; what it finds is remembered for the next lookup.
CopyItem* CopyRecord::WalkName(const char* key, size_t length) {
    CopyItem* head = analysis->GetHead();
    CopyRecordNameCache::Entry* entry = nullptr;
    uint32_t hash = KeyHash(key, length);
    if (length < CopyRecordNameCache::kKeyCapacity) {
        if (nameCache == nullptr) {
            nameCache = static_cast<CopyRecordNameCache*>(AllocateEngineBytes(sizeof(CopyRecordNameCache), "メモリ確保失敗"));
            nameCache->head = nullptr;
        }
        if (nameCache->head != head) {
            std::memset(nameCache->entries, 0, sizeof nameCache->entries);
            std::memset(nameCache->recent, 0, sizeof nameCache->recent);
            nameCache->head = head;
        }
        // A few places from the key's own: the first free one takes a new key; when all
        // are taken, the key's own place is given up.
        for (unsigned probe = 0; probe < CopyRecordNameCache::kProbes; ++probe) {
            CopyRecordNameCache::Entry* candidate = &nameCache->entries[(hash + probe) % CopyRecordNameCache::kEntries];
            if (candidate->item == nullptr) {
                entry = candidate;
                break;
            }
            if (candidate->hash == hash && candidate->length == length &&
                std::memcmp(candidate->key, key, length) == 0) {
                RememberRecent(nameCache, key, candidate);
                return candidate->item;
            }
        }
        if (entry == nullptr) entry = &nameCache->entries[hash % CopyRecordNameCache::kEntries];
    }

    // Segments separated by '.', each a data name or an occurrence number.
    char segments[kMaxKeyLength];
    std::memcpy(segments, key, length + 1);
    char* segment = segments;
    char* rest = std::strchr(segment, '.');
    if (rest != nullptr) *rest++ = '\0';

    CopyItem* found = nullptr;
    CopyItem* current = head;
    int matchedLevel = 0;
    bool occurrenceExpected = false;
    while (current != nullptr) {
        if (CompareNoCase(segment, current->name) == 0) {
            if (occurrenceExpected) break;
            if (rest == nullptr) {
                if (current->elementNo == 0) found = current;
                break;
            }
            if (matchedLevel >= current->level) break;
            segment = rest;
            rest = std::strchr(segment, '.');
            if (rest != nullptr) *rest++ = '\0';
            matchedLevel = current->level;
            if (current->occursCount == 0) {
                // The next segment names something below this item: an item without
                // subordinates has nothing below it (its next item in list order is a
                // sibling or lies further out).
                if (!HasSubordinates(current)) break;
                current = current->next;
            } else {
                occurrenceExpected = true;
            }
            continue;
        }
        long occurrence = ReadOccurrence(segment);
        if (occurrence > 0) {
            occurrenceExpected = false;
            // An occurrence number picks an occurrence of an array; an item inside an
            // array occurrence carries that occurrence's number too, but is none itself.
            if (occurrence == current->elementNo && IsTableOccurrence(current)) {
                if (rest == nullptr) {
                    found = current;
                    break;
                }
                if (matchedLevel >= current->level) break;
                if (!HasSubordinates(current)) break;
                segment = rest;
                rest = std::strchr(segment, '.');
                if (rest != nullptr) *rest++ = '\0';
                matchedLevel = current->level;
                current = current->next;
                continue;
            }
        }
        current = current->nextSibling;
    }

    if (found != nullptr && entry != nullptr) {
        entry->item = found;
        entry->hash = hash;
        entry->length = static_cast<uint32_t>(length);
        std::memcpy(entry->key, key, length + 1);
        RememberRecent(nameCache, key, entry);
    }
    return found;
}

// ---- The data file -------------------------------------------------------------

bool CopyRecord::Open(int mode) {
    if (analysis->GetHead() == nullptr) RAISE(CException, "コピー句ファイルがおかしい。");
    if (dataFile != nullptr) return false;
    static const char* const kModes[] = {nullptr, "rb", "rb+", "wb", "wb+", "ab", "ab+", "r"};
    if (mode < 1 || mode > 7) RAISE(CFileException, "オープンモードエラー");
    FILE* file = mode == 7 ? OpenTextFile(dataFileName, kModes[mode]) : std::fopen(dataFileName, kModes[mode]);
    if (file == nullptr) RAISE(CFileException, "オープンエラー");

    ReleaseBytes(record);
    record = nullptr;
    recordCapacity = 0;
    bufferLimit = 0;
    try {
        size_t capacity = static_cast<size_t>(recordLength) + 10;
        record = static_cast<char*>(AllocateEngineBytes(capacity, "メモリ確保失敗"));
        std::memset(record, 0, capacity);
        recordCapacity = static_cast<int32_t>(capacity);
    } catch (CMemoryException failure) {
        // Without a buffer the file is of no use: do not leave it open.
        std::fclose(file);
        failure.AddLocation(__LINE__, COBCPY_MODULE);
        throw failure;
    } catch (...) {
        std::fclose(file);
        RAISE(CMemoryException, "メモリ確保失敗！！");
    }
    dataFile = file;
    openMode = mode;
    lastAccess = 0;
    return true;
}

bool CopyRecord::Close() {
    if (dataFile == nullptr) return false;
    std::fclose(dataFile);
    dataFile = nullptr;
    ReleaseBytes(record);
    record = nullptr;
    recordCapacity = 0;
    bufferLimit = 0;
    openMode = 0;
    lastAccess = 0;
    return true;
}

// A stream open for update must be repositioned between reading and writing;
// a null seek does that without moving.
void CopyRecord::PrepareAccess(int direction) {
    if (lastAccess != 0 && lastAccess != direction) std::fseek(dataFile, 0, SEEK_CUR);
    lastAccess = direction;
}

// Reads up to recordLength bytes into the record: raw in the binary modes, with the
// text-mode rule in mode 7. Returns the count read.
size_t CopyRecord::ReadBlock() {
    size_t wanted = static_cast<size_t>(recordLength);
    PrepareAccess(1);
    if (openMode != 7) return std::fread(record, 1, wanted, dataFile);
    size_t count = 0;
    int c;
    while (count < wanted && (c = ReadTextChar(dataFile)) != EOF) record[count++] = static_cast<char>(c);
    return count;
}

bool CopyRecord::ReadRecord() {
    if (!RecordFits()) return false;
    if (ReadBlock() != static_cast<size_t>(recordLength)) return false;
    record[recordLength] = '\0';
    return true;
}

bool CopyRecord::ReadRecordBytes() {
    if (!RecordFits()) return false;
    size_t count = ReadBlock();
    if (count == 0) return false;
    if (count < static_cast<size_t>(recordLength)) return false;
    if (count == 1 && record[0] == '\x1a') return false;
    record[recordLength] = '\0';
    return true;
}

bool CopyRecord::WriteRecord() {
    if (!RecordFits()) return false;
    PrepareAccess(2);
    return std::fwrite(record, static_cast<size_t>(recordLength), 1, dataFile) == 1;
}

// One text line into the record, blank-padded to the record length. A line longer
// than the record continues in the next call; a line of exactly the record's length
// takes its newline with it.
bool CopyRecord::ReadLine() {
    if (!RecordFits()) return false;
    PrepareAccess(1);
    int32_t count = 0;
    bool ended = false;
    int c = EOF;
    while (count < recordLength) {
        c = ReadTextChar(dataFile);
        if (c == EOF) break;
        if (c == '\n') {
            ended = true;
            break;
        }
        record[count++] = static_cast<char>(c);
    }
    if (count == 0 && !ended) return false;
    if (count == recordLength && !ended) {
        // Take the newline that ends a line of exactly the record's length; leave
        // anything else for the next call.
        int next = std::getc(dataFile);
        if (next == '\r') {
            int after = std::getc(dataFile);
            if (after != '\n') std::fseek(dataFile, after == EOF ? -1 : -2, SEEK_CUR);
        } else if (next != '\n' && next != EOF) {
            std::ungetc(next, dataFile);
        }
    }
    std::memset(record + count, ' ', static_cast<size_t>(recordLength - count));
    record[recordLength] = '\0';
    return true;
}

// An open file whose buffer holds the whole record: false after SetCopybook gave a
// longer record than the one the buffer was allocated for, until the next Open.
bool CopyRecord::RecordFits() const {
    return dataFile != nullptr && record != nullptr && recordLength > 0 && bufferLimit == 0;
}

char* CopyRecord::RecordBuffer() { return record; }

FILE* CopyRecord::DataFile() { return dataFile; }

// ---- Keyed forms of the value operations -----------------------------------------

#define BY_SERIAL(serialNo, message)                                   \
    CopyItem* item = FindItemBySerial(serialNo);                       \
    if (item == nullptr) RAISE(CException, message)
#define BY_NAME(key, message)                                          \
    CopyItem* item = FindItemByName(key);                              \
    if (item == nullptr) RAISE(CException, message)

char* CopyRecord::GetString(int serialNo, char* buffer, int size) {
    BY_SERIAL(serialNo, "インデックスオーバー");
    return GetString(item, buffer, size);
}
char* CopyRecord::GetString(const char* key, char* buffer, int size) {
    BY_NAME(key, "項目が見つかりません！");
    return GetString(item, buffer, size);
}
bool CopyRecord::SetString(int serialNo, const char* text, int length) {
    BY_SERIAL(serialNo, "インデックスオーバー");
    return SetString(item, text, length);
}
bool CopyRecord::SetString(const char* key, const char* text, int length) {
    BY_NAME(key, "項目が見つかりません！");
    return SetString(item, text, length);
}

int8_t CopyRecord::GetInt8(int serialNo, bool dropDecimals) {
    BY_SERIAL(serialNo, "インデックスオーバー！！");
    return GetInt8(item, dropDecimals);
}
int8_t CopyRecord::GetInt8(const char* key, bool dropDecimals) {
    BY_NAME(key, "項目がありません！");
    return GetInt8(item, dropDecimals);
}
int16_t CopyRecord::GetInt16(int serialNo, bool dropDecimals) {
    BY_SERIAL(serialNo, "インデックスオーバー！！");
    return GetInt16(item, dropDecimals);
}
int16_t CopyRecord::GetInt16(const char* key, bool dropDecimals) {
    BY_NAME(key, "項目がありません！");
    return GetInt16(item, dropDecimals);
}
int32_t CopyRecord::GetInt32(int serialNo, bool dropDecimals) {
    BY_SERIAL(serialNo, "インデックスオーバー！！");
    return GetInt32(item, dropDecimals);
}
int32_t CopyRecord::GetInt32(const char* key, bool dropDecimals) {
    BY_NAME(key, "項目がありません！");
    return GetInt32(item, dropDecimals);
}
int64_t CopyRecord::GetInt64(int serialNo, bool dropDecimals) {
    BY_SERIAL(serialNo, "インデックスオーバー！！");
    return GetInt64(item, dropDecimals);
}
int64_t CopyRecord::GetInt64(const char* key, bool dropDecimals) {
    BY_NAME(key, "項目がありません！");
    return GetInt64(item, dropDecimals);
}

bool CopyRecord::SetInt8(int serialNo, int8_t value, bool dropDecimals) {
    BY_SERIAL(serialNo, "インデックスオーバー！！");
    return SetInt8(item, value, dropDecimals);
}
bool CopyRecord::SetInt8(const char* key, int8_t value, bool dropDecimals) {
    BY_NAME(key, "項目がありません！");
    return SetInt8(item, value, dropDecimals);
}
bool CopyRecord::SetInt16(int serialNo, int16_t value, bool dropDecimals) {
    BY_SERIAL(serialNo, "インデックスオーバー！！");
    return SetInt16(item, value, dropDecimals);
}
bool CopyRecord::SetInt16(const char* key, int16_t value, bool dropDecimals) {
    BY_NAME(key, "項目がありません！");
    return SetInt16(item, value, dropDecimals);
}
bool CopyRecord::SetInt32(int serialNo, int32_t value, bool dropDecimals) {
    BY_SERIAL(serialNo, "インデックスオーバー！！");
    return SetInt32(item, value, dropDecimals);
}
bool CopyRecord::SetInt32(const char* key, int32_t value, bool dropDecimals) {
    BY_NAME(key, "項目がありません！");
    return SetInt32(item, value, dropDecimals);
}
bool CopyRecord::SetInt64(int serialNo, int64_t value, bool dropDecimals) {
    BY_SERIAL(serialNo, "インデックスオーバー！！");
    return SetInt64(item, value, dropDecimals);
}
bool CopyRecord::SetInt64(const char* key, int64_t value, bool dropDecimals) {
    BY_NAME(key, "項目がありません！");
    return SetInt64(item, value, dropDecimals);
}

double CopyRecord::GetDouble(int serialNo) {
    BY_SERIAL(serialNo, "インデックスオーバー！！");
    return GetDouble(item);
}
double CopyRecord::GetDouble(const char* key) {
    BY_NAME(key, "項目がありません！");
    return GetDouble(item);
}
bool CopyRecord::SetDouble(int serialNo, double value) {
    BY_SERIAL(serialNo, "インデックスオーバー！！");
    return SetDouble(item, value);
}
bool CopyRecord::SetDouble(const char* key, double value) {
    BY_NAME(key, "項目が見つかりません！！");
    return SetDouble(item, value);
}

char* CopyRecord::GetBytes(int serialNo, char* buffer, int size) {
    BY_SERIAL(serialNo, "インデックスオーバー！！");
    return GetBytes(item, buffer, size);
}
char* CopyRecord::GetBytes(const char* key, char* buffer, int size) {
    BY_NAME(key, "項目がありません！");
    return GetBytes(item, buffer, size);
}
bool CopyRecord::SetBits(int serialNo, const char* text, int length) {
    BY_SERIAL(serialNo, "項目が見つかりません！");
    return SetBits(item, text, length);
}
bool CopyRecord::SetBits(const char* key, const char* text, int length) {
    BY_NAME(key, "項目が見つかりません！");
    return SetBits(item, text, length);
}

#undef BY_SERIAL
#undef BY_NAME
