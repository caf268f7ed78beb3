// The analysis object: construction, the item list primitives and the public analysis entry.
#include "engine_internal.h"

CopyAnalyzer::CopyAnalyzer(const char* name)
    : recordLength(0), itemCount(0), fileName{}, sourceText(nullptr), head(nullptr),
      sourceFile(nullptr), stage(0), tail(nullptr), keywords(&COPYBOOK_KEYWORDS), redefinesIndex(nullptr) {
    CopyTextIn(fileName, sizeof fileName, name);
}

CopyAnalyzer::~CopyAnalyzer() {
    if (head != nullptr) CopyAnalyzer::FreeItems();
    ReleaseBytes(sourceText);
    sourceText = nullptr;
    if (sourceFile != nullptr) std::fclose(sourceFile);
    sourceFile = nullptr;
    ReleaseRedefinesIndex(redefinesIndex);
}

CopyItem* CopyAnalyzer::InitItem(CopyItem* item) {
    if (item != nullptr) *item = CopyItem();
    return item;
}

void* AllocateEngineBytes(std::size_t size, const char* message) {
    void* block = nullptr;
    try {
        block = AllocateBytes(size);
    } catch (CMemoryException e) {
        e.AddLocation(__LINE__, COBCPY_MODULE);
        throw e;
    } catch (...) {
        RAISE(CMemoryException, message);
    }
    if (block == nullptr) RAISE(CMemoryException, message);
    return block;
}

CopyItem* CopyAnalyzer::NewItem() {
    CopyItem* item = static_cast<CopyItem*>(AllocateEngineBytes(sizeof(CopyItem), "メモリの確保に失敗しました。"));
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
    return CopyTextIn(fileName, sizeof fileName, name);
}

const char* CopyAnalyzer::FileName() { return fileName; }

int CopyAnalyzer::GetFileName(char* buffer, int size) { return CopyTextOut(fileName, buffer, size); }

CopyItem* CopyAnalyzer::GetHead() { return head; }

void CopyAnalyzer::FreeItems() {
    CopyItem* item = head;
    while (item != nullptr) {
        CopyItem* following = item->next;
        ReleaseBytes(item);
        item = following;
    }
    ReleaseRedefinesIndex(redefinesIndex);
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
        int cx = BYTE_TABLES.fold[*x];
        int cy = BYTE_TABLES.fold[*y];
        if (cx != cy) return cx - cy;
        if (cx == 0) return 0;
    }
}
