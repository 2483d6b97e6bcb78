#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace programmers {

// The sending side of XMODEM-CRC as a unit without a line: what the receiver
// sent goes in, what to write comes out. The image must fill whole 128-byte
// blocks.
class TXmodemSender {
public:
    static constexpr std::size_t BlockSize = 128;
    static constexpr std::size_t PacketSize = 133; // SOH, block, complement, data, CRC
    static constexpr std::uint8_t Soh = 0x01;
    static constexpr std::uint8_t Eot = 0x04;
    static constexpr std::uint8_t Ack = 0x06;
    static constexpr std::uint8_t Nak = 0x15;
    static constexpr std::uint8_t Can = 0x18;
    static constexpr std::uint8_t CrcRequest = 'C';
    // A receiver that refuses one packet this often, or asks to start again
    // this often after its first 'C', will not take the image.
    static constexpr unsigned MaxRefusals = 10;
    static constexpr unsigned MaxRestarts = 10;

    enum class State {
        Idle,     // no image yet
        Waiting,  // packet 1 built, waiting for the receiver's 'C'
        Sending,  // packets under way
        EotSent,  // every packet acknowledged, end of transfer sent
        Finished, // the end of transfer acknowledged
        Failed,   // the receiver refused, restarted or cancelled: see GetFailure
    };
    enum class Failure {
        None,
        Refused,   // MaxRefusals NAKs of one packet (or of the end of transfer)
        Restarted, // MaxRestarts 'C's after the first
        Cancelled, // the receiver sent CAN
    };

    // False when the image is empty or does not fill whole blocks.
    bool Start(std::span<const std::uint8_t> image);
    // The receiver's bytes of one read, each judged in the state it arrives
    // in. A receiver answers with single control bytes; a text line (a late
    // line of the bootloader, even one that starts with 'C') and noise
    // answer nothing, also when the line arrives over several reads. Once a
    // byte has asked for something to write, the read's later bytes left the
    // receiver before that could reach it: only a cancel counts among them.
    // While packet 1 is unacknowledged a 'C' may have crossed it on the line:
    // an ACK or NAK after it answers packet 1, and only a round trip without
    // one (see AwaitsRoundTrip) makes it a request. The result is what to
    // write, empty when nothing.
    std::span<const std::uint8_t> OnReceived(std::span<const std::uint8_t> bytes);
    // True while the reads so far leave a 'C' at their end whose meaning only
    // the next byte tells, or a text line without its end: the caller calls
    // OnQuiet once the receiver has sent nothing more for a short while.
    bool AwaitsQuiet() const;
    // True when the wait decides a 'C' that may have crossed packet 1: it
    // lasts the packet's round trip from the first such 'C', and further 'C's
    // do not put it off. Shorter, packet 1 goes out twice, draws two ACKs and
    // the second passes for packet 2's.
    bool AwaitsRoundTrip() const;
    // The receiver fell silent: a 'C' held back was a request (a receiver
    // sends it alone and waits), and a line without its end has ended. The
    // result is what to write, empty when nothing.
    std::span<const std::uint8_t> OnQuiet();

    State GetState() const { return state_; }
    Failure GetFailure() const { return failure_; }
    std::uint32_t PacketCount() const { return packetCount_; }
    // Packets built so far; the last one built is the one under way.
    std::uint32_t PacketsBuilt() const { return built_; }
    // Acknowledges that moved the transfer on: of packets and of the end.
    std::uint32_t Acknowledged() const { return acknowledged_; }

    // One packet of the block with the number (wrapping at 256) and data.
    static std::array<std::uint8_t, PacketSize> BuildPacket(std::uint32_t number,
                                                            const std::uint8_t* data);

private:
    void BuildNext();
    // A refusal of what is under way; false once it has used its repeats.
    bool Refused();
    std::span<const std::uint8_t> Fail(Failure failure);
    // One answer byte in the present state.
    std::span<const std::uint8_t> Judge(std::uint8_t answer);
    bool Running() const;
    bool Packet1Unacknowledged() const;

    std::span<const std::uint8_t> image_;
    std::array<std::uint8_t, PacketSize> packet_{};
    std::uint32_t packetCount_ = 0;
    std::uint32_t built_ = 0;
    std::uint32_t acknowledged_ = 0;
    unsigned refusals_ = 0;   // of what is under way
    unsigned restarts_ = 0;   // 'C's after the first
    bool canPending_ = false; // one CAN seen: a second in a row cancels
    bool inText_ = false;     // a text line has begun and not ended yet
    bool heldC_ = false;      // a 'C' ended the last read: request or text?
    bool crossingC_ = false;  // a request while packet 1 is unacknowledged
    State state_ = State::Idle;
    Failure failure_ = Failure::None;
};

} // namespace programmers
