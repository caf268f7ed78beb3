// Reads the first record of a data file laid out by a copybook and prints the
// library's version and the record's NAME and QTY items.
// Usage: read_record DATA_FILE COPYBOOK
#include <cstdio>

// The headers of the COBOL rules and of the keyword table come first, to show that
// each compiles on its own from the installed folder.
#include "cobolrules.h"
#include "keywords.h"
#include "copyrecord.h"
#include "quillbox_version.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: read_record DATA_FILE COPYBOOK\n");
        return 2;
    }
    try {
        CopyRecord record(argv[1], argv[2]);
        if (!record.Open(1) || !record.ReadRecord()) {
            std::fprintf(stderr, "no record in %s\n", argv[1]);
            return 1;
        }
        char name[16];
        record.GetString("REC.NAME", name, sizeof name);
        std::printf("%s %s %d\n", QB_VERSION, name, static_cast<int>(record.GetInt32("REC.QTY")));
        record.Close();
    } catch (CException& failure) {
        std::fprintf(stderr, "%s\n", failure.GetMessageText());
        return 1;
    }
    return 0;
}
