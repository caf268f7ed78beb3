// Helpers of the cross-checks with GnuCOBOL: whether cobc is there, shell quoting, the
// fixed-format text of a measuring program, how such a program names an item, and its
// compiling and running.
#ifndef QUILLBOX_COBC_PROGRAM_H
#define QUILLBOX_COBC_PROGRAM_H

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "cobcpy.h"
#include "textfile.h"

namespace qbtest {

inline bool HaveCobc() { return std::system("command -v cobc >/dev/null 2>&1") == 0; }

// `text` in single quotes for the shell.
inline std::string Quote(const std::string& text) { return "'" + text + "'"; }

// The words that name one occurrence of an item in a program: its name, qualified by
// every group above it and then by `outer` (a record around the copybook) when that is
// not empty, then the occurrence numbers of every table level, outermost first, in one
// parenthesised subscript word. Without `subscripted` the subscripts are left out, as
// for an item that names a whole range of storage.
inline std::vector<std::string> ItemReference(const CopyItem* item, const std::string& outer = "",
                                              bool subscripted = true) {
    std::vector<std::string> words{item->name};
    std::vector<int> subscripts;
    for (const CopyItem* p = item; p != nullptr; p = p->parent) {
        if (p != item) {
            words.push_back("OF");
            words.push_back(p->name);
        }
        int dimension = p->parent != nullptr ? p->parent->dimension : 0;
        if (subscripted && p->dimension > dimension) subscripts.insert(subscripts.begin(), p->elementNo);
    }
    if (!outer.empty()) {
        words.push_back("OF");
        words.push_back(outer);
    }
    if (!subscripts.empty()) {
        std::string s = "(";
        for (std::size_t i = 0; i < subscripts.size(); ++i) s += (i ? " " : "") + std::to_string(subscripts[i]);
        words.push_back(s + ")");
    }
    return words;
}

// The words of a reference as one line, for test messages.
inline std::string ReferenceText(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& w : words) text += (text.empty() ? "" : " ") + w;
    return text;
}

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

// Writes `text` as xcheck.cob in the folder `dir`, compiles it with `cobc -x` and the
// command-line `options`, and runs it. Empty when both went well, with what the program
// printed in `output`; otherwise what failed, with cobc's or the program's messages.
inline std::string CompileAndRun(const std::string& dir, const std::string& text, const std::string& options,
                                 std::string& output) {
    const std::string source = dir + "/xcheck.cob", exe = dir + "/xcheck";
    const std::string log = dir + "/cobc.log", out = dir + "/run.txt";
    output.clear();
    if (!WriteTextFile(source.c_str(), text.data(), text.size())) return "cannot write " + source;
    const std::string compile =
        "cobc -x " + options + " -o " + Quote(exe) + " " + Quote(source) + " >" + Quote(log) + " 2>&1";
    if (std::system(compile.c_str()) != 0) {
        std::string messages;
        ReadTextFile(log.c_str(), messages);
        return "cobc refused the measuring program:\n" + messages;
    }
    const int status = std::system((Quote(exe) + " >" + Quote(out) + " 2>&1").c_str());
    if (!ReadTextFile(out.c_str(), output)) return "the measuring program left no output";
    if (status != 0) return "the measuring program failed:\n" + output;
    return "";
}

}  // namespace qbtest

#endif
