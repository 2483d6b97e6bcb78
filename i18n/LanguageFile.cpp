#include "i18n/LanguageFile.h"

#include "platform/Files.h"

#include <filesystem>
#include <system_error>

namespace i18n {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Writes through a link to the file it names, as an in-place write would.
fs::path SaveTarget(const std::string& path) {
    std::error_code error;
    if (fs::is_symlink(path, error)) {
        fs::path target = fs::canonical(path, error);
        if (!error) {
            return target;
        }
    }
    return path;
}

} // namespace

LanguageText ParseLanguageFile(std::string_view bytes) {
    LanguageText text;
    if (bytes.starts_with(kUtf8Bom)) {
        text.Utf8 = true;
        bytes.remove_prefix(kUtf8Bom.size());
    }
    text.Lines = platform::SplitLines(std::string(bytes));
    return text;
}

std::string FormatLanguageFile(const LanguageText& text) {
    std::string bytes(text.Utf8 ? kUtf8Bom : std::string_view());
    for (const std::string& line : text.Lines) {
        bytes += line;
        bytes += "\r\n";
    }
    return bytes;
}

bool LoadLanguageFile(const std::string& path, LanguageText& text) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
        return false;
    }
    std::string bytes;
    if (!platform::ReadWholeFile(path, bytes)) {
        return false;
    }
    text = ParseLanguageFile(bytes);
    return true;
}

bool SaveLanguageFile(const std::string& path, const LanguageText& text) {
    if (path.empty()) {
        return false;
    }
    fs::path target = SaveTarget(path);
    fs::path temporary = target;
    temporary += ".tmp";
    if (!platform::WriteWholeFile(temporary.string(), FormatLanguageFile(text))) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return false;
    }
    std::error_code error;
    fs::file_status previous = fs::status(target, error);
    if (!error) {
        fs::permissions(temporary, previous.permissions(), error);
    }
    fs::rename(temporary, target, error);
    if (error) {
        fs::remove(temporary, error);
        return false;
    }
    return true;
}

} // namespace i18n
