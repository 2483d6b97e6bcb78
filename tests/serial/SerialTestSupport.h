#pragma once

#include "Pty.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "platform/Message.h"
#include "platform/PortMap.h"
#include "platform/Tick.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace serialtest {

// A port map directory of COMn links for one test.
class PortDirectory {
public:
    PortDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ports-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("no temp dir");
        }
        path_ = pattern;
        platform::SetPortMapDirectory(path_);
    }
    ~PortDirectory() {
        platform::SetPortMapDirectory("");
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    PortDirectory(const PortDirectory&) = delete;
    PortDirectory& operator=(const PortDirectory&) = delete;

    // COM{index + 1} -> target
    void Link(int index, const std::string& target) const {
        std::filesystem::create_symlink(target, path_ + "/COM" + std::to_string(index + 1));
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Collects what is posted to one window.
class MessageLog : public platform::MessageTarget {
public:
    MessageLog() { handle_ = platform::Application::Instance().Register(this); }
    ~MessageLog() override { platform::Application::Instance().Unregister(handle_); }
    void Dispatch(platform::Message& message) override { messages.push_back(message); }
    platform::HWND Handle() const { return handle_; }
    std::size_t Count(std::uint32_t msg) const {
        std::size_t n = 0;
        for (const platform::Message& message : messages) {
            n += message.Msg == msg ? 1 : 0;
        }
        return n;
    }
    std::vector<platform::Message> messages;

private:
    platform::HWND handle_ = 0;
};

// Runs the loop until done() holds or timeoutMs passes.
inline bool PumpUntil(const std::function<bool()>& done, std::uint32_t timeoutMs) {
    std::uint32_t start = platform::GetTickCount();
    while (!done()) {
        if (platform::GetTickCount() - start >= timeoutMs) {
            return false;
        }
        platform::Application::Instance().ProcessMessagesFor(20);
    }
    return true;
}

inline void Pump(std::uint32_t ms) {
    platform::Application::Instance().ProcessMessagesFor(ms);
}

class RecordingDialogs : public platform::Dialogs {
public:
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
        boxes.push_back({text, caption, flags});
        return platform::IDOK;
    }
    bool OpenFile(const std::string&, const std::string&, std::string&) override { return false; }
    bool OpenDocument(const std::string&) override { return false; }

    struct Box {
        std::string text;
        std::string caption;
        unsigned flags;
    };
    std::vector<Box> boxes;
};

} // namespace serialtest
