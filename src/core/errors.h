// The one failure family of Kalv3. Every failure that ends an operation is an
// Error carrying the message the user sees; each kind has its own class so that
// callers (and tests) can tell them apart. Problems of single archive entries are
// not failures: they are reported through the extraction component's events.
#pragma once

#include <stdexcept>
#include <string>

namespace kalv {

class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
    std::string message() const { return what(); }
};

// --- ZIP archives -----------------------------------------------------------
class BadZipFile : public Error {
public:
    BadZipFile() : Error("Not a valid zip file!") {}
};

// APPNOTE keeps each entry's data apart; entries whose data run over the next entry's
// header are the overlapping-entry bomb (kilobytes that extract to gigabytes).
class OverlappedEntries : public Error {
public:
    OverlappedEntries() : Error("Invalid zip file with overlapped components (possible zip bomb)") {}
};

class IncompleteZip : public Error {
public:
    IncompleteZip() : Error("Incomplete Zip File") {}
};

class FatalUnzipError : public Error {
public:
    FatalUnzipError() : Error("Premature end of file reached") {}
    explicit FatalUnzipError(const std::string& message) : Error(message) {}
};

class UserCanceled : public Error {
public:
    explicit UserCanceled(const std::string& message) : Error(message) {}
};

// An entry's data decode to more than its recorded size. The extraction's output
// writer reports that as a normal end of decoding (the CRC check then judges), not
// with this failure.
class BiggerThanUncompressed : public Error {
public:
    BiggerThanUncompressed() : Error("File is larger than uncompressed size!") {}
};

// Object lists: the message depends on the rule broken (index, duplicate, ...).
class ListError : public Error {
public:
    explicit ListError(const std::string& message) : Error(message) {}
};

class StreamError : public Error {
public:
    explicit StreamError(const std::string& message) : Error(message) {}
};

// "Cannot open file %s" / "Cannot create file %s": the file stream's own failures.
class FileStreamError : public StreamError {
public:
    explicit FileStreamError(const std::string& message) : StreamError(message) {}
};

// Signed 32-bit length arithmetic that would overflow (text lengths near 2 GiB).
class IntegerOverflow : public Error {
public:
    IntegerOverflow() : Error("Integer overflow") {}
};

// --- Ciphers ------------------------------------------------------------------
class CipherError : public Error {
public:
    explicit CipherError(const std::string& message) : Error(message) {}
};

class BlockCipherError : public CipherError {
public:
    explicit BlockCipherError(const std::string& message) : CipherError(message) {}
};

}  // namespace kalv
