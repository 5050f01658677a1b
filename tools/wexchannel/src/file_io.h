// Whole-file reads and all-or-nothing writes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace wexchannel {

// Throws ToolError naming the file when it cannot be read.
std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path);

// Writes `bytes` to a new temporary file beside `target`, then renames it to
// `target` (replacing an existing file). Either `target` ends up holding
// exactly `bytes`, or it is untouched and no temporary file is left; throws
// ToolError in the second case. The new file gets the permissions of
// `permissionsFrom` when it is not empty.
void WriteFileAtomically(const std::filesystem::path& target, std::span<const uint8_t> bytes,
                         const std::filesystem::path& permissionsFrom = {});

// The path as the engineer wrote it, for messages.
std::string PathText(const std::filesystem::path& path);

}  // namespace wexchannel
