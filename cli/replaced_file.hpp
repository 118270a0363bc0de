#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace ktnet {

// Replaces the file at path with text as a whole, stored as TextWriter stores it (each LF as
// CR LF). The text is written under a temporary name (path plus ".partial") and renamed over
// path, so that path holds either what it held before or all of text, whatever happens on the
// way: a full disk, a file-size limit, a kill. False, with the temporary file gone and why
// saying which step failed and the system's reason.
[[nodiscard]] bool replace_file(const std::filesystem::path& path,
                                std::span<const std::uint8_t> text, std::string& why);

}  // namespace ktnet
