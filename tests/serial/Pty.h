#pragma once

#include <cstdint>
#include <string>

namespace serialtest {

// A pseudo-terminal standing in for a cable; the test holds the master and
// reads the slave's line settings through it. termios stays in Pty.cpp: its
// B115200 macro would rename the component's BaudTag of that name.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& SlavePath() const { return slave_; }
    int Master() const { return master_; }

    std::uint32_t Baud() const;
    bool TwoStopBits() const;
    bool HardwareFlow() const;
    // Standard speeds only.
    bool SetLine(std::uint32_t baud, bool twoStopBits) const;

    void Send(const std::string& bytes) const;
    // What the tool sent, collected until want bytes came or timeoutMs passed.
    std::string Receive(std::size_t want, std::uint32_t timeoutMs = 3000) const;
    void CloseMaster();

private:
    int master_ = -1;
    std::string slave_;
};

} // namespace serialtest
