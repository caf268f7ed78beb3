// CGIException and its subclasses: the support library's own exceptions. Each holds
// its texts in CGIStrings, so building or changing one can itself run out of storage.
#include "cgiclib.h"

CGIException::CGIException(const char* message, int line, const char* sourceFileName,
                           const char* exceptionName)
    : lineText(), sourceFileName(), messageText(), location(), exceptionName(nullptr) {
    messageText.Assign(message);
    lineText.Assign(line);
    this->sourceFileName.Assign(sourceFileName);
    location.Assign(this->sourceFileName.Concat(":"));
    location.Append(lineText);
    this->exceptionName = exceptionName;
}

CGIException::CGIException(const CGIException& other)
    : CGIObject(other),
      lineText(other.lineText),
      sourceFileName(other.sourceFileName),
      messageText(other.messageText),
      location(other.location),
      exceptionName(other.exceptionName) {}

CGIException::~CGIException() {}

const char* CGIException::SetMessageText(const char* text) { return messageText.Assign(text); }

const char* CGIException::SetMessageText(const CGIString& text) { return messageText.Assign(text); }

const char* CGIException::SetLine(int line) { return lineText.Assign(line); }

const char* CGIException::SetSourceFileName(const char* name) { return sourceFileName.Assign(name); }

const char* CGIException::SetSourceFileName(const CGIString& name) { return sourceFileName.Assign(name); }

const char* CGIException::GetMessageText() { return messageText.GetText(); }

const char* CGIException::GetLineText() { return lineText.GetText(); }

const char* CGIException::GetSourceFileName() { return sourceFileName.GetText(); }

const char* CGIException::GetExceptionName() { return exceptionName; }

const char* CGIException::AddLocation(int line, const char* fileName, const char* separator) {
    lineText.Append(separator);
    sourceFileName.Append(separator);
    location.Append(separator);
    lineText.Append(line);
    sourceFileName.Append(fileName);
    location.Append(fileName);
    location.Append(":");
    location.Append(line);
    return location.GetText();
}

CGIMemoryException::CGIMemoryException(const char* message, int line, const char* sourceFileName,
                                       const char* exceptionName)
    : CGIException(message, line, sourceFileName, exceptionName) {}
CGIMemoryException::~CGIMemoryException() {}

CGIDataException::CGIDataException(const char* message, int line, const char* sourceFileName,
                                   const char* exceptionName)
    : CGIException(message, line, sourceFileName, exceptionName) {}
CGIDataException::~CGIDataException() {}

CGIFileException::CGIFileException(const char* message, int line, const char* sourceFileName,
                                   const char* exceptionName)
    : CGIException(message, line, sourceFileName, exceptionName) {}
CGIFileException::~CGIFileException() {}

CGIImageException::CGIImageException(const char* message, int line, const char* sourceFileName,
                                     const char* exceptionName)
    : CGIException(message, line, sourceFileName, exceptionName) {}
CGIImageException::~CGIImageException() {}
