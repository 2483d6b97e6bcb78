#pragma once

#include <string>

namespace platform {

// A shared library opened by path; it stays loaded while the object lives.
class TSharedLibrary {
public:
    TSharedLibrary() = default;
    explicit TSharedLibrary(const std::string& path) { Open(path); }
    TSharedLibrary(const TSharedLibrary&) = delete;
    TSharedLibrary& operator=(const TSharedLibrary&) = delete;
    ~TSharedLibrary();

    bool Open(const std::string& path);
    bool Loaded() const { return handle_ != nullptr; }
    // The plain C symbol, nullptr when absent or nothing is loaded.
    void* Symbol(const char* name) const;
    // Why the last Open failed.
    const std::string& Error() const { return error_; }

private:
    void* handle_ = nullptr;
    std::string error_;
};

} // namespace platform
