#pragma once

#include <cstddef>
#include <string>

// Reads a small file whole, up to a bound on its size, and refuses what is not a regular file: a
// FIFO or a device would block or never end, a directory holds no text. The file is opened
// without waiting for a writer and checked on the descriptor it is read from, so nothing can be
// put in its place between the check and the reading; a file that grows while it is read is
// read one chunk past the bound at most.
class BoundedFile {
public:
    enum Result {
        ReadOk,
        NotFound,   // no such file, or a part of its path is no directory
        NotRegular, // a FIFO, a directory, a device
        TooLarge,   // larger than the bound, found before or while reading
        Failed,     // it could not be opened or read (Error() says why); with noFollow also a link
    };

    // maxSize: the most bytes taken. noFollow: a symbolic link as the last part of the path is
    // refused (Failed with ELOOP) instead of followed.
    explicit BoundedFile(size_t maxSize, bool noFollow = false)
        : maxSize_(maxSize), noFollow_(noFollow) {}

    Result Read(const std::string& path);

    const std::string& Text() const { return text_; }
    // The size found: the file's size, or the bytes read when it grew past the bound.
    unsigned long long Size() const { return size_; }
    unsigned Owner() const { return owner_; } // the user id of the file's owner
    unsigned Mode() const { return mode_; }   // its permission bits (07777)
    int Error() const { return error_; }      // the system's error number of a failure

private:
    size_t maxSize_;
    bool noFollow_;
    std::string text_;
    unsigned long long size_ = 0;
    unsigned owner_ = 0;
    unsigned mode_ = 0;
    int error_ = 0;
};
