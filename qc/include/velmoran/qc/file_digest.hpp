// The SHA-256 of a file, as mzQC's file properties give it (MS:1003151).
#pragma once

#include <filesystem>
#include <string>

#include <velmoran/result.hpp>

namespace velmoran::qc {

// Lower-case hexadecimal SHA-256 of the file's bytes.
[[nodiscard]] Result<std::string> sha256_of_file(const std::filesystem::path& path);

}  // namespace velmoran::qc
