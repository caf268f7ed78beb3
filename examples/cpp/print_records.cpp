// Prints every record of a data file of variable records (RDW) as NAME=VALUE pairs,
// then the exact sum of one numeric column.
// Usage: print_records COPYBOOK DATA ENCODING SUM-COLUMN
#include <cstdint>
#include <iostream>

#include "datafile.h"   // installed as include/quillbox/datafile.h

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: print_records COPYBOOK DATA ENCODING SUM-COLUMN\n";
        return 2;
    }
    try {
        quillbox::Layout layout(argv[1]);                   // quillbox::LayoutOptions{true}: the COBOL rules
        quillbox::DataOptions options;
        options.encoding = argv[3];                         // ibm-037, ibm-930, cp932, ...
        options.records = quillbox::RecordFormat::kRdw;     // kFixed, kLines, kRdw, kRdwBlock
        quillbox::DataReader reader(layout, argv[2], options);
        int64_t total = 0;
        int scale = 0;
        while (reader.Next()) {
            for (size_t i = 0; i < reader.ColumnCount(); ++i) {
                std::cout << reader.ColumnName(i) << '=' << reader.Text(i) << (i + 1 < reader.ColumnCount() ? " " : "\n");
            }
            quillbox::Value amount = reader.Get(argv[4]);   // exact: digits and scale
            total += amount.Unscaled();
            scale = amount.Scale();
        }
        std::cout << "total " << quillbox::Value::Decimal(total, scale).Text() << '\n';
    } catch (const quillbox::Error& failure) {
        // "record 7, item AMT (offset 8): packed nibble A of byte 0x1A is not a digit"
        std::cerr << failure.what() << '\n';
        return 1;
    }
    return 0;
}
