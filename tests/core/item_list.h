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
#include "test_util.h"

using qbtest::ReadFileBytes;

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

// A scratch file of this test process in the test's working folder: test cases run in
// parallel processes.
inline std::string TestFilePath(const char* name) { return qbtest::ProcessUniqueName("app_core_", name); }

#endif
