#pragma once

#include <string>
#include <string_view>

namespace sheafwright {

// Replaces the file at `path` with `contents` all at once: the bytes go to a new temporary
// file beside it, reach the disk, and only then take the target's name. On failure the
// temporary file is removed and an earlier file at `path` is left as it was. Throws
// std::system_error whose text names the path and the system's reason.
void writeFileAtomically(const std::string& path, std::string_view contents);

// `path` made absolute against the working directory, without "." components.
std::string absolutePath(const std::string& path);

}  // namespace sheafwright
