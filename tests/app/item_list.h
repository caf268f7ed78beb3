// Hand-built item lists for the tests: the fields are filled as the analysis engine
// fills them, so the text model can be tested without analysing a copybook.
#ifndef QUILLBOX_TESTS_ITEM_LIST_H
#define QUILLBOX_TESTS_ITEM_LIST_H

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "quillbox.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

class ItemList {
public:
    // Appends an item with the given level and name; every other field is zero.
    CopyItem* Add(int level, const char* name, unsigned flags = 0) {
        items.push_back(std::unique_ptr<CopyItem>(new CopyItem{}));
        CopyItem* item = items.back().get();
        item->level = level;
        item->flags = flags;
        std::snprintf(item->name, sizeof item->name, "%s", name);
        if (items.size() > 1) {
            CopyItem* last = items[items.size() - 2].get();
            last->next = item;
            item->prev = last;
        }
        item->serialNo = static_cast<int>(items.size());
        return item;
    }
    CopyItem* Head() { return items.empty() ? nullptr : items.front().get(); }
    CopyItem* operator[](std::size_t i) { return items[i].get(); }
private:
    std::vector<std::unique_ptr<CopyItem>> items;
};

inline void SetText(char (&field)[64], const char* text) { std::snprintf(field, sizeof field, "%s", text); }

// The bytes of a file, read as binary.
inline std::string ReadFileBytes(const std::string& path) {
    std::string bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return bytes;
    char block[4096];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes.append(block, got);
    std::fclose(file);
    return bytes;
}

// A file name in the test's working folder, unique per test.
// A scratch file of this test process: test cases run in parallel processes.
inline std::string TestFilePath(const char* name) {
#ifdef _WIN32
    unsigned long id = GetCurrentProcessId();
#else
    unsigned long id = static_cast<unsigned long>(getpid());
#endif
    return std::string("app_core_") + std::to_string(id) + "_" + name;
}

#endif
