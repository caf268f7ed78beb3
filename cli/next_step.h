// The next step a message of quillbox-cli suggests: after bad data that is most likely
// a wrong option (an EBCDIC file read as cp932, a file of variable records read as
// fixed ones, blocked records read as unblocked), the option that reads it.
#ifndef QUILLBOX_CLI_NEXT_STEP_H
#define QUILLBOX_CLI_NEXT_STEP_H

#include <cstddef>
#include <string>

#include "datacodec.h"
#include "records.h"

// What the first bytes of a data file look like.
struct DataLooks {
    bool rdw = false;      // a record descriptor word: a length of 5 or more, then two zero bytes
    bool bdw = false;      // a block descriptor word with a record descriptor word after it
    bool ebcdic = false;   // more bytes of EBCDIC letters, digits and blanks than of ASCII ones
    int firstLength = 0;   // the length the first descriptor word gives (rdw or bdw)
};
DataLooks LookAtData(const unsigned char* bytes, size_t length);

// What the run was told about the data.
struct DataTold {
    bool ebcdicEncoding = false;                         // --encoding names an EBCDIC page
    quillbox::RecordFormat records = quillbox::RecordFormat::kFixed;
    DataLooks looks;                                     // the data's first bytes, when they could be read
};

// One line saying what to try after `fault`; empty when nothing is likely.
std::string NextStep(const quillbox::RunFault& fault, const DataTold& told);

#endif
