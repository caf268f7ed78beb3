// cgiclib: the support library shared by the whole system.
// - CException, CFileException, CMemoryException: the exceptions the analysis
//   engine and the desktop program raise and catch.
// - CGIObject, CGIString, CGIException and its subclasses: the support library's own
//   small object hierarchy (an owned byte string and its exceptions).
// All texts are Shift_JIS byte strings; every length counts bytes.
#ifndef CGICLIB_H
#define CGICLIB_H

#include <cstddef>

// The system throws its exceptions by value and catches them by value: a handler of
// the base class works on its own copy, which keeps the raised class's name (see
// CException's copy constructor). The warning about by-value handlers is therefore
// off wherever these classes are used.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wcatch-value"
#endif

class CException {
public:
    CException(const char* message, int line, const char* sourceFileName);
    CException(const CException& other);
    CException& operator=(const CException&) = delete;
    virtual ~CException();
    virtual bool        AddLocation(int line, const char* fileName);
    virtual bool        SetMessageText(const char* text);
    virtual bool        AppendMessageText(const char* text);
    virtual int         CopyMessageText(char* buffer, int size);
    virtual const char* GetMessageText();
    virtual int         CopyLocation(char* buffer, int size);
    virtual const char* GetLocation();
    virtual int         CopySourceFileName(char* buffer, int size);
    virtual const char* GetSourceFileName();
    virtual int         GetLine();
    virtual int         CopyExceptionName(char* buffer, int size);
    virtual const char* GetExceptionName();
protected:
    int line;
    const char* sourceFileName;
    const char* exceptionName;
    char* location;
    char messageText[513];
};

class CFileException : public CException {
public:
    CFileException(const char* message, int line, const char* sourceFileName);
    CFileException(const CFileException& other);
    ~CFileException() override;
};

class CMemoryException : public CException {
public:
    CMemoryException(const char* message, int line, const char* sourceFileName);
    CMemoryException(const CMemoryException& other);
    ~CMemoryException() override;
};

class CGIObject {
public:
    virtual ~CGIObject();
    virtual void ExitWithErrorPage(const char* title, const char* heading, const char* format, ...);
};

class CGIString : public CGIObject {
public:
    CGIString();
    CGIString(const char* text);
    CGIString(const CGIString& other);
    CGIString& operator=(const CGIString&) = delete;
    ~CGIString() override;
    const char* GetText() const;
    const char* Assign(const char* text);       // null counts as ""
    const char* Assign(const CGIString& other);
    const char* Assign(int number);
    const char* Append(const char* text);
    const char* Append(const CGIString& other);
    const char* Append(int number);
    CGIString   Concat(const char* text) const;
    bool        Equals(const char* text) const;
    int         Replace(const char* search, const char* replacement);
    const char* EscapeHtml();
protected:
    char* text;
private:
    // Takes over `storage`, a block of exactly its text length plus one byte.
    struct AdoptStorage {};
    CGIString(char* storage, AdoptStorage);
    // Releases the old storage and installs `storage`; returns the new text.
    const char* Install(char* storage);
};

class CGIException : public CGIObject {
public:
    CGIException(const char* message, int line, const char* sourceFileName, const char* exceptionName);
    CGIException(const CGIException& other);
    CGIException& operator=(const CGIException&) = delete;
    virtual ~CGIException();
    virtual const char* SetMessageText(const char* text);
    virtual const char* SetMessageText(const CGIString& text);
    virtual const char* SetLine(int line);
    virtual const char* SetSourceFileName(const char* name);
    virtual const char* SetSourceFileName(const CGIString& name);
    virtual const char* GetMessageText();
    virtual const char* GetLineText();
    virtual const char* GetSourceFileName();
    virtual const char* GetExceptionName();
    virtual const char* AddLocation(int line, const char* fileName, const char* separator);
    virtual void        ExitWithReport();
protected:
    CGIString lineText;
    CGIString sourceFileName;
    CGIString messageText;
    CGIString location;
    const char* exceptionName;
};

class CGIMemoryException : public CGIException {
public:
    CGIMemoryException(const char* message, int line, const char* sourceFileName, const char* exceptionName);
    ~CGIMemoryException() override;
};
class CGIDataException : public CGIException {
public:
    CGIDataException(const char* message, int line, const char* sourceFileName, const char* exceptionName);
    ~CGIDataException() override;
};
class CGIFileException : public CGIException {
public:
    CGIFileException(const char* message, int line, const char* sourceFileName, const char* exceptionName);
    ~CGIFileException() override;
};
class CGIImageException : public CGIException {
public:
    CGIImageException(const char* message, int line, const char* sourceFileName, const char* exceptionName);
    ~CGIImageException() override;
};

// Raising: constructs the exception from the message, the raising statement's line and
// the raising module's name, and throws it by value. Each module wraps this in its own
// short macro so that a raise site names neither its line nor its module.
#define CGI_RAISE_FROM(ExceptionClass, message, moduleName) \
    throw ExceptionClass((message), __LINE__, (moduleName))

// Storage. Every heap request of the system goes through these two functions, so that
// a failed request is an ordinary null result that the caller tests at once.
void* AllocateBytes(std::size_t size);   // null when the storage is not available
void  ReleaseBytes(void* block);         // null is accepted

// Test hook: the request that is `count` requests from now (0 = the very next one)
// fails with a null result; a negative count switches the hook off (both hooks).
void FailAllocationAfter(int count);
// Test hook for storage that stays exhausted: the request `count` requests from now
// and every later one fail, until FailAllocationAfter(-1) switches the hook off.
void FailEveryAllocationAfter(int count);

#include "textfile.h"
#include "textrules.h"

#endif
