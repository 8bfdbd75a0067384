#pragma once

#include <string>

// Replaces a file whole: the text goes into a temporary file beside it, which is then renamed
// over the file, so that a reader sees the old file or the new one and never a part of either,
// and a run killed half-way leaves the old one.
class AtomicFile {
public:
    // mode: the permission bits of the new file; WithUmask lets the process's umask take from
    // 0666, as for any file a command writes.
    static constexpr unsigned WithUmask = 01000;

    // False with the system's reason ("No space left on device"); the file is then
    // as it was and no temporary file is left.
    static bool Write(const std::string& path, const std::string& text, unsigned mode,
                      std::string* error);

    // Writes all of text to fd, going on after interruptions and short writes; false with errno
    // set when the system refused (a full disk).
    static bool WriteAll(int fd, const std::string& text);
};
