#include "BslFakes.h"

#include <algorithm>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace bsltest {

// ---- FakeHost --------------------------------------------------------------

FakeHost::FakeHost() {
    std::vector<platform::TTimer*> slots;
    for (int slot = 1; slot <= 5; ++slot) {
        auto timer = std::make_unique<platform::TTimer>(nullptr);
        timer->SetEnabled(false);
        timer->SetTag(slot);
        timer->OnTimer = [this](platform::TTimer& sender) {
            if (sender.Enabled()) {
                events.PostTimer(static_cast<std::int32_t>(sender.Tag()));
                ProcessEvents();
            }
        };
        slots.push_back(timer.get());
        timers_.push_back(std::move(timer));
    }
    pool.TimerInit(slots);
    events.AddHandler(&FakeHost::Sequencer, this);
    handle_ = platform::Application::Instance().Register(this);
}

FakeHost::~FakeHost() {
    platform::Application::Instance().Unregister(handle_);
}

kernel::TEventRec FakeHost::ProcessEvents() {
    for (kernel::TEventRec event = events.GetEvent(); event.Kind != kernel::evNothing;
         event = events.GetEvent()) {
        events.DispatchEvent(event);
    }
    return kernel::TEvents::ClearEvent();
}

void FakeHost::AddLogLine(const std::string& text) {
    logLines.push_back(text);
    if (onLog) {
        onLog(text);
    }
}

std::string FakeHost::BootErrorText(int step) {
    if (step == 0) {
        return language == 0 ? "Bootloader im Zielger\xE4t nicht verf\xFCgbar!!  Programmierung "
                               "wurde abgebrochen."
                             : "bootloader in target not available!!  Programming abort.";
    }
    return language == 0 ? "Fehler im Bootloader !!  Programmierung wurde abgebrochen."
                         : "Error in bootloader !!  Programming abort.";
}

std::string FakeHost::FindDefFile(std::uint32_t chipId) {
    auto found = defFiles.find(chipId);
    return found == defFiles.end() ? std::string() : found->second;
}

void FakeHost::Dispatch(platform::Message& message) {
    if (message.Msg == WmCharsReceived) {
        events.PostMsg(10000, static_cast<std::intptr_t>(message.WParam));
        ProcessEvents();
    }
}

kernel::TEventRec FakeHost::Sequencer(void* context, kernel::TEvents&, kernel::TEventRec event) {
    auto* host = static_cast<FakeHost*>(context);
    if (event.Kind == kernel::evMessage && event.Id == 10000) {
        host->ParseReplies();
        return kernel::TEvents::ClearEvent();
    }
    return event;
}

// Just enough of the device reply parser: I.n#text posts n with the text,
// a final "!" posts 10010, "A." posts 10011, a final "?" posts 10012.
void FakeHost::ParseReplies() {
    if (port == nullptr) {
        return;
    }
    char chunk[256];
    for (int got = port->Read(chunk, sizeof chunk - 1); got > 0;
         got = port->Read(chunk, sizeof chunk - 1)) {
        lineBuffer_.append(chunk, static_cast<std::size_t>(got));
    }
    for (auto end = lineBuffer_.find("\r\n"); end != std::string::npos;
         end = lineBuffer_.find("\r\n")) {
        const std::string line = lineBuffer_.substr(0, end);
        lineBuffer_.erase(0, end + 2);
        if (line.rfind("I.", 0) == 0) {
            const auto hash = line.find('#');
            texts_.push_back(std::make_unique<std::string>(
                hash == std::string::npos ? std::string() : line.substr(hash + 1)));
            events.PostMsg(std::atoi(line.c_str() + 2),
                           reinterpret_cast<std::intptr_t>(texts_.back()->c_str()));
        }
        if (!line.empty() && line.back() == '!') {
            events.PostMsg(10010, 0);
        }
        if (line.rfind("A.", 0) == 0) {
            events.PostMsg(10011, 0);
        }
        if (!line.empty() && line.back() == '?') {
            events.PostMsg(10012, 0);
        }
    }
}

// ---- FakeRomLoader ---------------------------------------------------------

namespace {
constexpr std::uint8_t Ack = 0x90;
constexpr std::uint8_t Nak = 0xA0;
constexpr std::uint8_t Header = 0x80;
} // namespace

FakeRomLoader::FakeRomLoader(serialtest::Pty& pty, Options options)
    : pty_(pty), options_(std::move(options)), flash_(0x20000, 0x00) {
    thread_ = std::thread([this] { Run(); });
}

FakeRomLoader::~FakeRomLoader() {
    stop_ = true;
    thread_.join();
}

void FakeRomLoader::Run() {
    while (!stop_) {
        pollfd fd{pty_.Master(), POLLIN, 0};
        if (::poll(&fd, 1, 20) <= 0 || (fd.revents & POLLIN) == 0) {
            continue;
        }
        char buffer[512];
        const ssize_t got = ::read(pty_.Master(), buffer, sizeof buffer);
        if (got > 0) {
            OnBytes(std::string(buffer, static_cast<std::size_t>(got)));
        }
    }
}

void FakeRomLoader::OnBytes(const std::string& bytes) {
    std::lock_guard lock(mutex_);
    received_ += bytes.size();
    if (!inLoader_) {
        // No speed check here: a pty cannot tell the speed a byte was sent
        // at, and the tool may switch to the loader's line right after.
        for (char c : bytes) {
            OnDeviceByte(c);
        }
        return;
    }
    if (pty_.Baud() != loaderBaud_) {
        return;
    }
    for (char c : bytes) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (!synced_) {
            if (byte == Header) {
                synced_ = true;
                Reply({Ack});
            }
            continue;
        }
        frame_.push_back(byte);
        if (frame_.size() >= 4 && frame_.size() == std::size_t{frame_[2]} + 6u) {
            std::vector<std::uint8_t> frame;
            frame.swap(frame_);
            synced_ = false;
            frames_.push_back({frame[1], pty_.Baud()});
            OnFrame(frame);
        }
    }
}

void FakeRomLoader::OnDeviceByte(char c) {
    line_ += c;
    if (line_.size() < 2 || line_.compare(line_.size() - 2, 2, "\r\n") != 0) {
        return;
    }
    const std::string line = line_.substr(0, line_.size() - 2);
    line_.clear();
    deviceLines_.push_back(line);
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", options_.password);
    if (line == "A.1000") {
        Reply({'A', '.', '1', '0', '0', '0', '!', '\r', '\n'});
    } else if (line == "A.5577" || line == "A.5555") {
        std::string reply = std::string("I.80#") + hex + "\r\n";
        Reply(std::vector<std::uint8_t>(reply.begin(), reply.end()));
    } else if (line.rfind("A.55", 0) == 0 && line.find("#QX47") != std::string::npos) {
        std::string reply = line.substr(0, 6) + "\r\n";
        Reply(std::vector<std::uint8_t>(reply.begin(), reply.end()));
        inLoader_ = true;
    } else {
        Reply({'?', '\r', '\n'});
    }
}

std::uint16_t FakeRomLoader::Checksum(const std::vector<std::uint8_t>& bytes, std::size_t count) {
    std::uint8_t low = 0;
    std::uint8_t high = 0;
    for (std::size_t i = 0; i < count; ++i) {
        (i % 2 == 0 ? low : high) ^= bytes[i];
    }
    return static_cast<std::uint16_t>(~(low | high << 8) & 0xFFFF);
}

void FakeRomLoader::OnFrame(const std::vector<std::uint8_t>& frame) {
    const std::size_t l1 = frame[2];
    const std::uint16_t sum = Checksum(frame, l1 + 4);
    if (frame[3] != l1 || frame[l1 + 4] != (sum & 0xFF) || frame[l1 + 5] != sum >> 8) {
        Reply({Nak});
        return;
    }
    const std::uint8_t command = frame[1];
    if (options_.refuse.count(command) != 0) {
        Reply({Nak});
        return;
    }
    const std::uint32_t address =
        static_cast<std::uint32_t>(frame[4] | frame[5] << 8) + (offset_ != 0 ? 0x10000u : 0u);
    const std::size_t length = static_cast<std::size_t>(frame[6] | frame[7] << 8);
    switch (command) {
    case 0x1E: { // version block as in the loader's ROM: chip id high first
        std::vector<std::uint8_t> data(16, 0);
        data[0] = static_cast<std::uint8_t>(options_.chipId >> 8);
        data[1] = static_cast<std::uint8_t>(options_.chipId & 0xFF);
        data[10] = options_.versionMajor;
        data[11] = options_.versionMinor;
        ReplyData(data);
        return;
    }
    case 0x10: { // the last word of the password must be the reset vector
        const bool good = l1 == 36 && frame[38] == (options_.password & 0xFF) &&
                          frame[39] == options_.password >> 8;
        Reply({good ? Ack : Nak});
        return;
    }
    case 0x16: {
        const std::uint32_t segment = address & ~0x1FFu;
        std::fill_n(flash_.begin() + segment, 512, 0xFF);
        erased_.push_back(address);
        Reply({Ack});
        return;
    }
    case 0x12:
        for (std::size_t i = 0; i < length && address + i < flash_.size(); ++i) {
            flash_[address + i] = frame[8 + i];
        }
        Reply({Ack});
        return;
    case 0x14: {
        std::vector<std::uint8_t> data(flash_.begin() + address,
                                       flash_.begin() + address + frame[6]);
        if (options_.corruptRead && !data.empty()) {
            data[data.size() / 2] ^= 0x01;
        }
        ReplyData(data);
        return;
    }
    case 0x1A:
        start_ = static_cast<std::uint32_t>(frame[4] | frame[5] << 8);
        Reply({Ack});
        return;
    case 0x20: // the new speed holds from the next byte on
        Reply({Ack});
        loaderBaud_ = 38400;
        return;
    case 0x21:
        offset_ = frame[6];
        Reply({Ack});
        return;
    default:
        Reply({Nak});
        return;
    }
}

void FakeRomLoader::Reply(const std::vector<std::uint8_t>& bytes) {
    pty_.Send(std::string(bytes.begin(), bytes.end()));
}

void FakeRomLoader::ReplyData(const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> frame = {Header, 0x00, static_cast<std::uint8_t>(data.size()),
                                       static_cast<std::uint8_t>(data.size())};
    frame.insert(frame.end(), data.begin(), data.end());
    const std::uint16_t sum = Checksum(frame, frame.size());
    frame.push_back(static_cast<std::uint8_t>(sum & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(sum >> 8));
    Reply(frame);
}

std::vector<FakeRomLoader::Seen> FakeRomLoader::Frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

std::vector<std::string> FakeRomLoader::DeviceLines() const {
    std::lock_guard lock(mutex_);
    return deviceLines_;
}

std::uint8_t FakeRomLoader::Flash(std::uint32_t address) const {
    std::lock_guard lock(mutex_);
    return address < flash_.size() ? flash_[address] : 0;
}

std::vector<std::uint32_t> FakeRomLoader::Erased() const {
    std::lock_guard lock(mutex_);
    return erased_;
}

int FakeRomLoader::Count(std::uint8_t command) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(
        frames_.begin(), frames_.end(), [&](const Seen& seen) { return seen.command == command; }));
}

std::uint32_t FakeRomLoader::StartAddress() const {
    std::lock_guard lock(mutex_);
    return start_;
}

std::size_t FakeRomLoader::BytesReceived() const {
    std::lock_guard lock(mutex_);
    return received_;
}

} // namespace bsltest
