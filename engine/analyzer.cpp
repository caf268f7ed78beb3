// The analysis object: construction, the item list primitives and the public analysis entry.
#include <cstring>

#include "engine_internal.h"

namespace {

// Copies at most `capacity` - 1 bytes of `name` into `target` and terminates it.
// True when the whole name fitted.
bool CopyName(char* target, std::size_t capacity, const char* name) {
    if (name == nullptr) name = "";
    std::size_t length = 0;
    while (length < capacity - 1 && name[length] != '\0') ++length;
    std::memcpy(target, name, length);
    target[length] = '\0';
    return name[length] == '\0';
}

}  // namespace

CopyAnalyzer::CopyAnalyzer(const char* name)
    : recordLength(0), itemCount(0), fileName{}, sourceText(nullptr), head(nullptr),
      sourceFile(nullptr), stage(0), tail(nullptr) {
    CopyName(fileName, sizeof fileName, name);
}

CopyAnalyzer::~CopyAnalyzer() {
    if (head != nullptr) CopyAnalyzer::FreeItems();
    ReleaseBytes(sourceText);
    sourceText = nullptr;
    if (sourceFile != nullptr) std::fclose(sourceFile);
    sourceFile = nullptr;
}

CopyItem* CopyAnalyzer::InitItem(CopyItem* item) {
    if (item != nullptr) *item = CopyItem();
    return item;
}

CopyItem* CopyAnalyzer::NewItem() {
    CopyItem* item = nullptr;
    try {
        item = static_cast<CopyItem*>(AllocateBytes(sizeof(CopyItem)));
    } catch (CMemoryException e) {
        e.AddLocation(__LINE__, COBCPY_MODULE);
        throw e;
    } catch (...) {
        RAISE(CMemoryException, "メモリの確保に失敗しました。");
    }
    if (item == nullptr) RAISE(CMemoryException, "メモリの確保に失敗しました。");
    try {
        InitItem(item);
    } catch (...) {
        ReleaseBytes(item);
        throw;
    }
    return item;
}

void CopyAnalyzer::AppendItem(CopyItem* item) {
    if (item == nullptr) return;
    if (head == nullptr) {
        head = item;
    } else {
        CopyItem* last = tail != nullptr ? tail : head;
        while (last->next != nullptr) last = last->next;
        last->next = item;
        item->prev = last;
    }
    tail = item;
}

void CopyAnalyzer::InsertItemAfter(CopyItem* after, CopyItem* item) {
    if (item == nullptr) return;
    // A node without links may still be the only node of the list.
    if (item->next != nullptr || item->prev != nullptr || item == head || item == after)
        RAISE(CException, "既にリストにあるノードを追加しようとしました。");
    if (after == nullptr) {
        AppendItem(item);
        return;
    }
    CopyItem* successor = after->next;
    item->next = successor;
    item->prev = after;
    after->next = item;
    if (successor != nullptr)
        successor->prev = item;
    else
        tail = item;
}

bool CopyAnalyzer::SetFileName(const char* name) {
    return CopyName(fileName, sizeof fileName, name);
}

const char* CopyAnalyzer::FileName() { return fileName; }

int CopyAnalyzer::GetFileName(char* buffer, int size) {
    int length = static_cast<int>(std::strlen(fileName));
    if (buffer == nullptr) return length + 1;
    if (size < 1) return size;
    int copied = length < size - 1 ? length : size - 1;
    std::memcpy(buffer, fileName, copied);
    buffer[copied] = '\0';
    return copied;
}

CopyItem* CopyAnalyzer::GetHead() { return head; }

void CopyAnalyzer::FreeItems() {
    CopyItem* item = head;
    while (item != nullptr) {
        CopyItem* following = item->next;
        ReleaseBytes(item);
        item = following;
    }
    head = nullptr;
    tail = nullptr;
}

CopyItem* CopyAnalyzer::Analyze() {
    LoadSource();
    JoinEntries();
    ParseEntries();
    ReleaseBytes(sourceText);
    sourceText = nullptr;
    if (head == nullptr) RAISE(CException, "COPY句として扱えない形式");
    ExpandArrays(head);
    LinkSiblings(head);
    LinkGroups(head);
    ComputeByteLengths(head);
    ComputeDimensions(head, 0);
    NumberAllElements();
    NumberItems();
    ComputeGroupLengths(head);
    ComputeRecordLength();
    ComputePositions(head, 1);
    return head;
}

unsigned CopyAnalyzer::GetRecordLength() { return recordLength; }

unsigned CopyAnalyzer::GetItemCount() { return itemCount; }

int CompareNoCase(const char* a, const char* b) {
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
    for (;; ++x, ++y) {
        int cx = (*x >= 'A' && *x <= 'Z') ? *x - 'A' + 'a' : *x;
        int cy = (*y >= 'A' && *y <= 'Z') ? *y - 'A' + 'a' : *y;
        if (cx != cy) return cx - cy;
        if (cx == 0) return 0;
    }
}
