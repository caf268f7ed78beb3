// Helpers of the cross-checks with GnuCOBOL: whether cobc is there, shell quoting, and
// the fixed-format text of a measuring program.
#ifndef QUILLBOX_COBC_PROGRAM_H
#define QUILLBOX_COBC_PROGRAM_H

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace qbtest {

inline bool HaveCobc() { return std::system("command -v cobc >/dev/null 2>&1") == 0; }

// `text` in single quotes for the shell.
inline std::string Quote(const std::string& text) { return "'" + text + "'"; }

// Fixed-format program text: entries from column 8, statement words wrapped between
// columns 12 and 72.
class ProgramText {
public:
    void Line(const std::string& text) { out_ << "       " << text << "\n"; }
    void Statement(const std::vector<std::string>& words) {
        std::string line = "           ";
        for (const std::string& w : words) {
            if (line.size() > 11 && line.size() + 1 + w.size() > 72) {
                out_ << line << "\n";
                line = "               ";
            }
            if (line.back() != ' ') line += ' ';
            line += w;
        }
        out_ << line << "\n";
    }
    // The working storage of the measuring statements: two pointers read as numbers,
    // the offset and the length.
    void MeasuringStorage() {
        Line("01 XC-PTR USAGE POINTER.");
        Line("01 XC-PTR-N REDEFINES XC-PTR PIC S9(18) COMP-5.");
        Line("01 XC-BASE USAGE POINTER.");
        Line("01 XC-BASE-N REDEFINES XC-BASE PIC S9(18) COMP-5.");
        Line("01 XC-OFF PIC 9(9).");
        Line("01 XC-LEN PIC 9(9).");
    }
    // Statements that display "I serial offset length" for the item `reference` names:
    // its offset from the address in XC-BASE, counted from 1, and its byte length.
    void MeasureItem(int serial, const std::vector<std::string>& reference) {
        std::vector<std::string> set{"SET", "XC-PTR", "TO", "ADDRESS", "OF"};
        set.insert(set.end(), reference.begin(), reference.end());
        Statement(set);
        Statement({"COMPUTE", "XC-OFF", "=", "XC-PTR-N", "-", "XC-BASE-N", "+", "1"});
        std::vector<std::string> len{"MOVE", "FUNCTION", "BYTE-LENGTH", "("};
        len.insert(len.end(), reference.begin(), reference.end());
        len.insert(len.end(), {")", "TO", "XC-LEN"});
        Statement(len);
        Statement({"DISPLAY", "\"I " + std::to_string(serial) + " \"", "XC-OFF", "\" \"", "XC-LEN"});
    }
    std::string Text() const { return out_.str(); }

private:
    std::ostringstream out_;
};

}  // namespace qbtest

#endif
