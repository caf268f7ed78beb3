// The desktop program's Japanese words for the codec's faults: the one place where a
// fault's code (FaultCode) becomes the text the window shows in the detail pane, after
// an edit's refusal, in a failed export and in the scan's message. The command line
// keeps the codec's English reasons.
#ifndef QUILLBOX_FAULTTEXT_H
#define QUILLBOX_FAULTTEXT_H

#include <string>

#include "faultcode.h"

namespace quillbox {

// The window's text (Shift_JIS) for a fault of kind `code` whose English reason is
// `reason` (UTF-8): a Japanese sentence for the kind, with the byte, numbers, quoted
// value or code page the reason names where they tell more. A setting is named by the
// window's own control. A fault of no known kind (kOther) says that the data is bad and
// keeps the codec's reason beside it.
std::string FaultText(FaultCode code, const std::string& reason);

// The window's text (Shift_JIS) for a layout or setting that a data file cannot be
// opened with (the codec's English `reason`, which has no fault code): the record-type
// rules that name what the copybook lacks, records that need the COBOL rules, a copybook
// of no record; others said as such with the reason beside.
std::string SetupFailureText(const std::string& reason);

// "レコード N、項目 NAME (位置 O): TEXT": where a fault is, for a message box (record from
// 1; item and offset left out when `item` is empty). `item` and `text` are Shift_JIS.
std::string FaultPlace(long long record, const std::string& item, long long offset, const std::string& text);

}  // namespace quillbox

#endif
