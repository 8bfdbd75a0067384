#pragma once

#include <string>

// The few path services the programs need from the operating system.
class OSCompat {
public:
    // Replaces ${CommonAppData} (the shared data directory, $XDG_DATA_HOME or ~/.local/share)
    // and ${Bindir} (the running program's directory); a bare file name becomes the path of that
    // file beside the running program. A trailing ".exe" is dropped.
    static std::string FixPath(const std::string& path);

    // Creates the directory and its missing parents; true when it exists afterwards.
    static bool MakeDirectory(const std::string& path);

    // The directory of the running program, without a trailing slash.
    static std::string ProgramDirectory();
    // The user's home folder: $HOME, or when it is unset or empty the user database's entry
    // for this user (never a shared folder).
    static std::string HomeDirectory();
    // The shared data directory behind ${CommonAppData}.
    static std::string CommonAppDataDirectory();
    // The user's directory for state such as logs: $XDG_STATE_HOME or ~/.local/state.
    static std::string UserStateDirectory();
};
