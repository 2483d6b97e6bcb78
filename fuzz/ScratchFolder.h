#pragma once

#include <filesystem>
#include <string>

namespace fuzzing {

// Where targets that must go through files write them: memory where the
// system has it, so that millions of runs do not wait for a disk.
inline std::string ScratchFolder() {
    std::error_code error;
    return std::filesystem::is_directory("/dev/shm", error)
               ? std::string("/dev/shm")
               : std::filesystem::temp_directory_path().string();
}

} // namespace fuzzing
