// Windows shell links (".lnk" shortcuts): the target path read from the file's own
// bytes, so that a shortcut copied from a Windows machine, or kept beside the logs
// on a shared disk, still names its log. Only what a log name needs is read: the
// local base path (or network share) of the LinkInfo block, and the relative path
// of the string data when the link has no LinkInfo.
#pragma once

#include <filesystem>
#include <span>
#include <string>

namespace tallowick::platform {

struct ShellLinkTarget {
    std::string path{};   // as written in the link: "C:\logs\access.log", "\\host\share\x"
    std::string error{};  // why the bytes are not a usable link; empty on success
    bool relative = false;   // the path is relative to the link's own folder
    bool ok() const { return error.empty(); }
};

// Reads the target of a shell link held in memory. Never reads outside `bytes`.
ShellLinkTarget parse_shell_link(std::span<const unsigned char> bytes);

// Reads the link file and gives its target; a relative target is joined to the
// link's folder. The error names what failed (the file, or the layout).
ShellLinkTarget read_shell_link(const std::filesystem::path& link);

}  // namespace tallowick::platform
