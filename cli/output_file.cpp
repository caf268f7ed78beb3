// The output file of a command (see output_file.h).
#include "output_file.h"

#include <cstring>

#include "cli_common.h"

namespace {

std::string Shown(const std::string& name) { return name == "-" ? std::string("standard output") : ArgumentToUtf8(name); }

}  // namespace

OutputFile::OutputFile(const std::string& name, const std::vector<std::string>& inputs, const Texts& texts)
    : name(name), texts(texts) {
    ReplaceOptions options;
    options.inputs = inputs;
    options.dashIsStandardOutput = true;
    if (replacement.Open(name, options)) {
        if (!replacement.Notice().empty()) {
            std::string line = TerminalSafe("quillbox-cli: " + Shown(name) + ": warning: " + replacement.Notice()) + "\n";
            std::fwrite(line.data(), 1, line.size(), stderr);
        }
        return;
    }
    switch (replacement.Why()) {
    case FileReplacement::kSameAsInput: {
        const std::string& input = inputs[replacement.SameInput()];
        const std::string inputShown = input == "-" ? std::string("standard input") : "the input " + ArgumentToUtf8(input);
        throw CommandFailure{Shown(name), "the output is the same file as " + inputShown +
                                              "; nothing was written (choose another output)"};
    }
    case FileReplacement::kFolderName:
        if (!name.empty() && (name.back() == '/' || name.back() == '\\'))
            throw CommandFailure{Shown(name), "the name ends in a slash, which names a folder: give the output "
                                              "file's name without it"};
        break;
    default:
        break;
    }
    std::string message = std::strerror(replacement.Error());
    if (!texts.openFailed.empty()) message = texts.openFailed + " (" + message + ")";
    throw CommandFailure{Shown(name), message};
}

OutputFile::~OutputFile() { Abandon(); }

void OutputFile::Abandon() { replacement.Abandon(); }

void OutputFile::Commit() {
    if (replacement.File() == nullptr) return;
    if (replacement.Commit()) return;
    if (name == "-") throw CommandFailure{"", "writing to standard output failed"};
    std::string message = texts.writeFailed;
    if (replacement.Why() == FileReplacement::kNoRoom) message += ": " + replacement.Reason();
    else if (replacement.Error() != 0) message += " (" + std::string(std::strerror(replacement.Error())) + ")";
    throw CommandFailure{Shown(name), message};
}
