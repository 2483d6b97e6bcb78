#include "platform/Files.h"

#include "platform/Text.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace platform {

namespace fs = std::filesystem;

namespace {

std::string DefaultPublicFolder() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data != '\0') {
        return std::string(data) + "/update-public";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return std::string(home) + "/.local/share/update-public";
    }
    return "/var/tmp/update-public";
}

// The value for %name%, or false to leave the text as it stands.
bool EnvironmentValue(const std::string& name, std::string& value) {
    if (const char* set = std::getenv(name.c_str()); set != nullptr) {
        value = set;
        return true;
    }
    if (name == "PUBLIC") {
        value = DefaultPublicFolder();
        return true;
    }
    if (name == "ProgramFiles") {
        value = "/opt";
        return true;
    }
    return false;
}

} // namespace

std::string ExpandEnvironmentStrings(const std::string& text) {
    std::string result;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t open = text.find('%', pos);
        std::size_t close = open == std::string::npos ? open : text.find('%', open + 1);
        if (close == std::string::npos) {
            result.append(text, pos);
            break;
        }
        result.append(text, pos, open - pos);
        std::string name = text.substr(open + 1, close - open - 1);
        std::string value;
        if (!name.empty() && EnvironmentValue(name, value)) {
            result += value;
            pos = close + 1;
        } else {
            // Keep the first % and look for a name from the second one on.
            result += '%';
            pos = open + 1;
        }
    }
    return result;
}

std::string CurrentDirectory() {
    std::error_code error;
    fs::path path = fs::current_path(error);
    return error ? std::string() : path.string();
}

bool SetCurrentDirectory(const std::string& path) {
    return ::chdir(path.c_str()) == 0;
}

bool DirectoryExists(const std::string& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

bool ForceDirectories(const std::string& path) {
    std::error_code error;
    fs::create_directories(path, error);
    return DirectoryExists(path);
}

bool WildcardMatch(const std::string& pattern, const std::string& name) {
    // Iterative match with one back-track point for the last *.
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::string::npos;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == '?' || UpperLatin1(pattern[p]) == UpperLatin1(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            starName = n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

std::vector<std::string> FindFiles(const std::string& folder, const std::string& pattern) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder.empty() ? "." : folder, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) {
            continue;
        }
        std::string name = it->path().filename().string();
        if (WildcardMatch(pattern, Utf8ToLatin1(name))) {
            names.push_back(std::move(name));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool ReadWholeFile(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        return false;
    }
    content = buffer.str();
    return true;
}

std::uint32_t FileAge(const std::string& path) {
    struct stat info {};
    std::tm local{};
    if (::stat(path.c_str(), &info) != 0 || localtime_r(&info.st_mtime, &local) == nullptr ||
        local.tm_year < 80) {
        return 0;
    }
    const auto field = [](int value, int shift) {
        return static_cast<std::uint32_t>(value) << shift;
    };
    return field(local.tm_year - 80, 25) | field(local.tm_mon + 1, 21) | field(local.tm_mday, 16) |
           field(local.tm_hour, 11) | field(local.tm_min, 5) | field(local.tm_sec / 2, 0);
}

bool WriteWholeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        return false;
    }
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    return !out.fail();
}

std::vector<std::string> SplitLines(const std::string& content) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < content.size(); ++i) {
        char c = content[i];
        if (c != '\r' && c != '\n') {
            continue;
        }
        lines.emplace_back(content, start, i - start);
        if (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n') {
            ++i;
        }
        start = i + 1;
    }
    if (start < content.size()) {
        lines.emplace_back(content, start);
    }
    return lines;
}

bool LoadLines(const std::string& path, std::vector<std::string>& lines) {
    std::string content;
    if (!ReadWholeFile(path, content)) {
        return false;
    }
    lines = SplitLines(content);
    return true;
}

bool SaveLines(const std::string& path, const std::vector<std::string>& lines) {
    std::string content;
    for (const std::string& line : lines) {
        content += line;
        content += "\r\n";
    }
    return WriteWholeFile(path, content);
}

std::string ExecutableFolder() {
    std::error_code error;
    fs::path exe = fs::read_symlink("/proc/self/exe", error);
    return error ? CurrentDirectory() : exe.parent_path().string();
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) {
        return name;
    }
    if (folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

} // namespace platform
