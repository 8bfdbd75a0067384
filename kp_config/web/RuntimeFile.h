#pragma once

#include <string>

// The file through which this user's other programs find the running web UI:
// $XDG_RUNTIME_DIR/velantrix-konfigurator/kp_config-<pid>.json (folder 0700, file 0600), holding
// {"url": "http://127.0.0.1:<port>/<mount>/index.htm?token=<secret>", "token": "<secret>",
//  "port": <port>, "pid": <pid>}. A browser that opens the url keeps the secret as its cookie,
// for the addresses below the mount only. Without XDG_RUNTIME_DIR no file is written.
class RuntimeFile {
public:
    enum class Result {
        Written,
        NoRuntimeFolder, // XDG_RUNTIME_DIR is not set (or not an absolute path)
        Failed           // see Error()
    };

    RuntimeFile() = default;
    ~RuntimeFile() { Remove(); }
    RuntimeFile(const RuntimeFile&) = delete;
    RuntimeFile& operator=(const RuntimeFile&) = delete;

    // Writes the file whole (a reader never sees part of it). The folder is used only when it is
    // a real folder of this user, never one that another user made or a link; on failure no file
    // exists.
    Result Write(int port, const std::string& token, const std::string& mount);
    // Removes the file if this object wrote it.
    void Remove();
    // The file written, or empty.
    const std::string& Path() const { return path_; }
    // After a failed Write, the sentence that says so, ready to be shown: "Die Laufzeitdatei
    // <file> konnte nicht geschrieben werden: <reason>", or without the file (short enough for a
    // status line); else empty.
    std::string Error(bool withFile = true) const;

private:
    Result Fail(const std::string& file, const std::string& reason);

    std::string path_;
    std::string failedFile_; // with its folder
    std::string reason_;
};
