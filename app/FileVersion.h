#pragma once

#include <cstdint>
#include <string>

namespace app {

enum class FileVersionKind { SRecord, Program, Binary, Plain };

// Which kind of search the marker and the file name ask for.
FileVersionKind VersionKindOf(const std::string& marker, const std::string& fileName);

// The version text behind marker in the bytes of the file's search window
// (its tail or head, see FileVersionWindow); empty when the marker is absent.
std::string VersionFromBytes(FileVersionKind kind, const std::string& marker,
                             const std::string& bytes);

// Reads the part of the file that is searched: false when it cannot be read.
bool ReadVersionWindow(FileVersionKind kind, const std::string& path, std::string& bytes);

// A version text as a number: trunc(value * 1000.01); text that is no
// number gives 0.
std::int32_t VersionNumber(const std::string& text);

inline constexpr std::size_t VersionTextLength = 15;

} // namespace app
