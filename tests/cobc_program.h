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
    std::string Text() const { return out_.str(); }

private:
    std::ostringstream out_;
};

}  // namespace qbtest

#endif
