// English beside the analysis's Japanese messages: the command line says both, the
// desktop program and the conformance outputs keep the Japanese alone.
#ifndef QUILLBOX_CLI_ENGLISH_H
#define QUILLBOX_CLI_ENGLISH_H

#include <string>

// `message` (the analysis's own text, Shift_JIS) with its English after it in
// parentheses, where it is one the analysis says in Japanese; as it is otherwise.
std::string WithEnglish(const std::string& message);

#endif
