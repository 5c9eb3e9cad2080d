#pragma once
// A path's parts and the file a chain of links ends at: what the checked save and the command
// line's same-file check both need to know where a file is, or would be, made.

#include <optional>
#include <string>

// The folder part of a path ("." for a bare name, "/" for a file in the root).
std::string folderOf(const std::string& path);
// The last part of a path.
std::string nameOf(const std::string& path);
// The file a chain of links ends at (which may not exist yet), or nullopt with the reason (a link
// that cannot be read, or more links than the kernel itself follows).
std::optional<std::string> followLinks(std::string path, std::string& reason);
