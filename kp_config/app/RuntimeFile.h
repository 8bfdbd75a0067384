#pragma once

#include <string>

// The file through which this user's other programs find the running web UI:
// $XDG_RUNTIME_DIR/velantrix-konfigurator/kp_config-<pid>.json (folder 0700, file 0600), holding
// {"url": "http://127.0.0.1:<port>/index.htm?token=<secret>", "token": "<secret>",
//  "port": <port>, "pid": <pid>}. Without XDG_RUNTIME_DIR no file is written.
class RuntimeFile {
public:
    RuntimeFile() = default;
    ~RuntimeFile() { Remove(); }
    RuntimeFile(const RuntimeFile&) = delete;
    RuntimeFile& operator=(const RuntimeFile&) = delete;

    // Writes the file whole (a reader never sees part of it); false when there is no runtime
    // folder or it cannot be written, and then no file exists.
    bool Write(int port, const std::string& token);
    // Removes the file if this object wrote it.
    void Remove();
    // The file written, or empty.
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};
