// The next step after bad data: guesses from the fault and the data's first bytes.
#include "next_step.h"

#include <cstdlib>

using namespace quillbox;

namespace {

int Word16(const unsigned char* p) { return p[0] << 8 | p[1]; }

// A descriptor word: a big-endian length of at least `least`, then two zero bytes.
bool DescriptorWord(const unsigned char* p, int least) { return Word16(p) >= least && p[2] == 0 && p[3] == 0; }

// The byte a reason names as "byte 0xHH"; -1 when it names none.
int NamedByte(const std::string& reason) {
    size_t at = reason.find("byte 0x");
    if (at == std::string::npos || at + 9 > reason.size()) return -1;
    char* end = nullptr;
    const std::string hex = reason.substr(at + 7, 2);
    long value = std::strtol(hex.c_str(), &end, 16);
    return end == hex.c_str() + 2 ? static_cast<int>(value) : -1;
}

// Whether `fault` is of the kind `code`, or says `words` (a fault made before its kind
// had a code).
bool Is(const RunFault& fault, FaultCode code, const char* words) {
    return fault.code == code || fault.reason.find(words) != std::string::npos;
}

const char* const kEbcdicStep =
    "the data looks like EBCDIC: try --encoding ibm-037 (ibm-930 or ibm-939 for Japanese EBCDIC)";

}  // namespace

DataLooks LookAtData(const unsigned char* bytes, size_t length) {
    DataLooks looks;
    if (length >= 8 && DescriptorWord(bytes, 5)) {
        looks.rdw = true;
        looks.firstLength = Word16(bytes);
        // A block: its first record's descriptor word lies inside it.
        looks.bdw = DescriptorWord(bytes + 4, 5) && Word16(bytes + 4) <= looks.firstLength - 4;
    }
    size_t from = looks.bdw ? 8 : looks.rdw ? 4 : 0;
    int ebcdic = 0, ascii = 0;
    for (size_t i = from; i < length; ++i) {
        const unsigned char c = bytes[i];
        if (c == 0x40 || (c >= 0xC1 && c <= 0xC9) || (c >= 0xD1 && c <= 0xD9) || (c >= 0xE2 && c <= 0xE9) ||
            (c >= 0xF0 && c <= 0xF9) || (c >= 0x81 && c <= 0x89) || (c >= 0x91 && c <= 0x99) || (c >= 0xA2 && c <= 0xA9))
            ++ebcdic;
        else if ((c >= 0x30 && c <= 0x39) || (c >= 0x41 && c <= 0x5A) || (c >= 0x61 && c <= 0x7A) || c == 0x20)
            ++ascii;
    }
    looks.ebcdic = ebcdic > 2 * ascii && ebcdic >= 4;
    return looks;
}

std::string NextStep(const RunFault& fault, const DataTold& told) {
    // The options that read the data say nothing about a table the run could not write
    // (a database that refused the rows) or a file that could not be read at all.
    if (fault.side == RunFault::kTable || fault.code == FaultCode::kIo) return std::string();
    const DataLooks& looks = told.looks;
    const bool unframed = told.records == RecordFormat::kFixed || told.records == RecordFormat::kLines;
    // Descriptor words at the start of a file read as records of the layout's length.
    if (unframed && fault.record <= 1 && looks.rdw) {
        return looks.bdw ? "the file starts with a block descriptor word: try --records rdw-block"
                         : "the file starts with a record descriptor word (" + std::to_string(looks.firstLength) +
                               " bytes): try --records rdw";
    }
    // Blocks read as records: the first block's length taken for a record's.
    if (told.records == RecordFormat::kRdw && looks.bdw && fault.record <= 1) {
        return "the file starts with a block descriptor word: try --records rdw-block";
    }
    // No descriptor word where --records rdw or rdw-block expects one.
    if ((told.records == RecordFormat::kRdw || told.records == RecordFormat::kRdwBlock) && !looks.rdw &&
        (Is(fault, FaultCode::kFraming, "bad RDW") || Is(fault, FaultCode::kFraming, "bad BDW")) &&
        fault.record <= 1) {
        return "the file does not start with a descriptor word: records of the copybook's length are read with "
               "--records fixed (the default), text lines with --records lines";
    }
    if (!told.ebcdicEncoding) {
        // EBCDIC digits (0xF0 to 0xF9) where a digit belongs.
        const int byte = NamedByte(fault.reason);
        const bool notDigit = Is(fault, FaultCode::kNotDigit, "is not a digit");
        if ((notDigit || Is(fault, FaultCode::kSignZone, "sign zone")) && byte >= 0xC0 && byte <= 0xF9 &&
            (byte & 0x0F) <= 9) {
            return kEbcdicStep;
        }
        if ((notDigit || Is(fault, FaultCode::kRecordType, "matches no --record-type rule") ||
             Is(fault, FaultCode::kTextDecode, "does not convert")) && looks.ebcdic) {
            return kEbcdicStep;
        }
    }
    return std::string();
}
