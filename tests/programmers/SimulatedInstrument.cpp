#include "SimulatedInstrument.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace bsltest {
namespace {

// The transcript's escapes undone: \\ \r \n \t \xHH.
std::string Unescape(const std::string& text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            bytes.push_back(text[i]);
            continue;
        }
        const char kind = text[++i];
        if (kind == 'x' && i + 2 < text.size()) {
            bytes.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            bytes.push_back(kind == 'r' ? '\r' : kind == 'n' ? '\n' : kind == 't' ? '\t' : kind);
        }
    }
    return bytes;
}

struct Entry {
    std::string direction; // "rx", "tx" or "--"
    std::string text;      // as written, escaped
};

std::vector<Entry> Entries(const std::string& transcript) {
    std::vector<Entry> entries;
    std::istringstream lines(transcript);
    std::string line;
    while (std::getline(lines, line)) {
        const auto first = line.find(' ');
        if (first == std::string::npos || line.size() < first + 3) {
            continue;
        }
        const std::string rest = line.size() > first + 4 ? line.substr(first + 4) : "";
        entries.push_back({line.substr(first + 1, 2), rest});
    }
    return entries;
}

} // namespace

SimulatedInstrument::SimulatedInstrument(const std::string& profile, std::string transcriptPath,
                                         unsigned timeDivisor)
    : transcriptPath_(std::move(transcriptPath)) {
    sim::ProfileResult parsed = sim::ParseProfile(profile);
    if (!parsed.ok) {
        throw std::runtime_error("profile: " + parsed.error);
    }
    simulator_ = std::make_unique<sim::Simulator>(
        std::move(parsed.profile), sim::SimOptions{transcriptPath_, "", "", 0, timeDivisor});
    std::string error;
    if (!simulator_->OpenPty(error)) {
        throw std::runtime_error("simulated instrument: " + error);
    }
    runner_ = std::thread([this] { simulator_->Run(); });
}

SimulatedInstrument::~SimulatedInstrument() {
    Stop();
}

void SimulatedInstrument::Stop() {
    if (runner_.joinable()) {
        simulator_->RequestStop();
        runner_.join();
    }
}

std::string SimulatedInstrument::Transcript() const {
    std::ifstream in(transcriptPath_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<LoaderFrame> SimulatedInstrument::Frames() const {
    std::vector<LoaderFrame> frames;
    for (const Entry& entry : Entries(Transcript())) {
        LoaderFrame f;
        if (entry.direction == "--" &&
            std::sscanf(entry.text.c_str(),
                        "frame %u at %u baud: command %x, address %x, length %x", &f.Number,
                        &f.Baud, &f.Command, &f.Address, &f.Length) == 5) {
            frames.push_back(f);
        }
    }
    return frames;
}

int SimulatedInstrument::Count(unsigned command) const {
    const std::vector<LoaderFrame> frames = Frames();
    return static_cast<int>(std::count_if(
        frames.begin(), frames.end(), [&](const LoaderFrame& f) { return f.Command == command; }));
}

std::string SimulatedInstrument::Received() const {
    std::string received;
    for (const Entry& entry : Entries(Transcript())) {
        if (entry.direction == "rx") {
            received += Unescape(entry.text);
        }
    }
    return received;
}

std::vector<std::string> SimulatedInstrument::DeviceLines() const {
    std::string received;
    std::size_t lastChunk = 0;
    for (const Entry& entry : Entries(Transcript())) {
        if (entry.direction == "rx") {
            lastChunk = received.size();
            received += Unescape(entry.text);
        } else if (entry.direction == "--" && entry.text.starts_with("dropped ")) {
            received.resize(lastChunk); // bytes at a wrong line never reach the firmware
        } else if (entry.direction == "--" && entry.text.starts_with("loader ")) {
            break;
        }
    }
    std::vector<std::string> lines;
    for (auto end = received.find("\r\n"); end != std::string::npos; end = received.find("\r\n")) {
        if (end > 0) {
            lines.push_back(received.substr(0, end));
        }
        received.erase(0, end + 2);
    }
    return lines;
}

} // namespace bsltest
