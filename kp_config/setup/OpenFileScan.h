#pragma once

#include <string>

// True when a process other than this one has the file open that fd refers to (path names it).
// Looks through /proc/<pid>/fd of every process; a process this user may not inspect (another
// user's, for a normal user) is skipped, and so is one that ends during the walk. Only open
// files whose name equals path's last component are compared, by device number for device nodes
// and by inode otherwise, so no other process's unrelated files are ever examined.
bool IsOpenInOtherProcess(const std::string& path, int fd);
