#include "programmers/XmodemSender.h"

#include "programmers/PaddedImage.h"
#include "tests/support/XmodemCrc.h"

#include <deque>
#include <gtest/gtest.h>

namespace programmers {
namespace {

using Sender = TXmodemSender;
using namespace std::string_view_literals;

std::vector<std::uint8_t> Bytes(std::span<const std::uint8_t> span) {
    return {span.begin(), span.end()};
}

std::vector<std::uint8_t> Answer(Sender& sender, std::uint8_t byte) {
    return Bytes(sender.OnReceived({&byte, 1}));
}

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// What the reads bring, one after the other, and then the receiver's
// silence: everything the sender writes meanwhile, in order.
std::vector<std::uint8_t> ReadsThenQuiet(Sender& sender,
                                         std::initializer_list<std::string_view> reads) {
    std::vector<std::uint8_t> written;
    for (const std::string_view read : reads) {
        const std::vector<std::uint8_t> out = Bytes(sender.OnReceived(AsBytes(read)));
        written.insert(written.end(), out.begin(), out.end());
    }
    const std::vector<std::uint8_t> out = Bytes(sender.OnQuiet());
    written.insert(written.end(), out.begin(), out.end());
    return written;
}

// A receiver's lone 'C', which it sends and then waits.
std::vector<std::uint8_t> Request(Sender& sender) {
    return ReadsThenQuiet(sender, {"C"});
}

// Starts the sender and has the receiver ask for packet 1; returns it.
std::vector<std::uint8_t> FirstPacketAskedFor(Sender& sender,
                                              const std::vector<std::uint8_t>& image) {
    EXPECT_TRUE(sender.Start(image));
    return Request(sender);
}

std::vector<std::uint8_t> Image(std::size_t blocks) {
    std::vector<std::uint8_t> image(blocks * Sender::BlockSize);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i * 7 + i / 128);
    }
    return image;
}

TEST(XmodemSender, PacketCarriesNumberComplementDataAndCrcHighByteFirst) {
    std::vector<std::uint8_t> data(128, 0);
    data[0] = 'a';
    data[1] = 'b';
    data[2] = 'c';
    const auto packet = Sender::BuildPacket(1, data.data());
    EXPECT_EQ(packet[0], Sender::Soh);
    EXPECT_EQ(packet[1], 1);
    EXPECT_EQ(packet[2], 0xFE);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), packet.begin() + 3));
    // CRC-16/XMODEM of "abc" and 125 zeros: zeros shift the register on.
    const std::uint16_t crc = testing_support::XmodemCrc(data);
    EXPECT_EQ(packet[131], crc >> 8);
    EXPECT_EQ(packet[132], crc & 0xFF);
}

TEST(XmodemSender, RunsFromCThroughEveryPacketToTheAcknowledgedEnd) {
    const std::vector<std::uint8_t> image = Image(300);
    Sender sender;
    ASSERT_TRUE(sender.Start(image));
    EXPECT_TRUE(Answer(sender, Sender::Ack).empty()) << "nothing asked for yet";
    EXPECT_TRUE(Answer(sender, 'C').empty()) << "a 'C' ending a read may begin a line";
    EXPECT_TRUE(sender.AwaitsQuiet());
    std::vector<std::uint8_t> packet = Bytes(sender.OnQuiet());
    EXPECT_FALSE(sender.AwaitsQuiet());
    for (std::size_t n = 1; n <= 300; ++n) {
        ASSERT_EQ(packet.size(), Sender::PacketSize) << n;
        EXPECT_EQ(packet[1], n % 256) << "numbers wrap from 255 to 0";
        EXPECT_EQ(packet[1] ^ packet[2], 0xFF);
        EXPECT_TRUE(std::equal(packet.begin() + 3, packet.begin() + 131,
                               image.begin() + static_cast<std::ptrdiff_t>((n - 1) * 128)));
        packet = Answer(sender, Sender::Ack);
    }
    EXPECT_EQ(packet, std::vector<std::uint8_t>{Sender::Eot});
    EXPECT_EQ(sender.GetState(), Sender::State::EotSent);
    EXPECT_EQ(Answer(sender, Sender::Nak), std::vector<std::uint8_t>{Sender::Eot})
        << "a refused end is repeated alone";
    EXPECT_TRUE(Answer(sender, Sender::Ack).empty());
    EXPECT_EQ(sender.GetState(), Sender::State::Finished);
}

TEST(XmodemSender, NakRepeatsThePacketAndCOnlyUntilPacket1IsAcknowledged) {
    const std::vector<std::uint8_t> image = Image(3);
    Sender sender;
    ASSERT_TRUE(sender.Start(image));
    const std::vector<std::uint8_t> first = Request(sender);
    EXPECT_EQ(Request(sender), first) << "before any answer, C asks again";
    const std::vector<std::uint8_t> second = Answer(sender, Sender::Ack);
    EXPECT_EQ(second[1], 2);
    EXPECT_EQ(Answer(sender, Sender::Nak), second);
    // Sent again on a 'C', packet 2 would draw a second ACK, taken for
    // packet 3's while packet 3 may still be refused.
    EXPECT_TRUE(Request(sender).empty());
    EXPECT_EQ(ReadsThenQuiet(sender, {"C\x06"}).size(), Sender::PacketSize)
        << "a 'C' before an ACK does not swallow it";
    EXPECT_EQ(sender.PacketsBuilt(), 3u);
    EXPECT_TRUE(Answer(sender, 'x').empty());
    // Answers that left the receiver before the packet could reach it do not
    // answer that packet.
    const std::uint8_t batch[] = {Sender::Ack, Sender::Nak, Sender::Nak};
    EXPECT_EQ(Bytes(sender.OnReceived(batch)), std::vector<std::uint8_t>{Sender::Eot});
    EXPECT_TRUE(Request(sender).empty()) << "nor is the end of transfer sent again";
    EXPECT_TRUE(Answer(sender, Sender::Ack).empty());
    EXPECT_EQ(sender.GetState(), Sender::State::Finished);
}

// Packet 1 is under way when one read brings the bytes of a case, and then
// the receiver falls silent: each byte is judged as it arrives, text lines
// and noise answer nothing, and what the receiver sent before it could see a
// reply does not answer that reply.
TEST(XmodemSender, EveryByteOfAReadIsJudgedAndTextLinesAnswerNothing) {
    enum class Writes { Nothing, Packet1Again, Packet2 };
    const std::pair<std::string_view, Writes> cases[] = {
        {"\x06", Writes::Packet2},
        {"\xFE\x06", Writes::Packet2}, // a stray byte before the acknowledge
        {"\x00\x7F\x15"sv, Writes::Packet1Again},
        {"I.251#1.06\r\n\x06", Writes::Packet2}, // a late line shares the read
        {"6\r\n\x15", Writes::Packet1Again},     // the rest of a line begun before
        {"\x06I.30#\r\n", Writes::Packet2},
        {"CRC ok\r\n", Writes::Nothing}, // a line that starts with 'C' asks for nothing
        {"Checksum 12\r\nC", Writes::Packet1Again},
        {"Erase C", Writes::Nothing}, // a 'C' inside a line
        {"C", Writes::Packet1Again},
        {"\x06\x06", Writes::Packet2}, // the second left before packet 2 could arrive
        {"\x06"
         "C",
         Writes::Packet2},
        {"noise\r\n", Writes::Nothing},
        {"", Writes::Nothing},
    };
    const std::vector<std::uint8_t> image = Image(3);
    for (const auto& [input, writes] : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(input)));
        Sender sender;
        const std::vector<std::uint8_t> first = FirstPacketAskedFor(sender, image);
        const std::vector<std::uint8_t> out = ReadsThenQuiet(sender, {input});
        switch (writes) {
        case Writes::Nothing:
            EXPECT_TRUE(out.empty());
            break;
        case Writes::Packet1Again:
            EXPECT_EQ(out, first);
            break;
        case Writes::Packet2:
            ASSERT_EQ(out.size(), Sender::PacketSize);
            EXPECT_EQ(out[1], 2);
            break;
        }
        EXPECT_EQ(sender.PacketsBuilt(), writes == Writes::Packet2 ? 2u : 1u);
        EXPECT_EQ(sender.GetFailure(), Sender::Failure::None);
    }
}

// A line may arrive over several reads, parted anywhere, also right after
// its first 'C'; each case is read whole and at every split into two reads,
// then the receiver falls silent. Before the start and with packet 1 under
// way, a request sends packet 1 (again) and anything else nothing.
TEST(XmodemSender, ALineSplitAcrossReadsIsReadAsTheWholeLine) {
    const std::pair<std::string_view, bool> cases[] = {
        {"Com 1.2 ready\r\n", false},
        {"CRC mode\r\n", false},
        {"C\r\n", false},
        {"Boot 1.2\r\nCopy\r\n", false},
        {"Erase C", false}, // a 'C' inside a line
        {"C", true},
        {"CC", true}, // one request: the second left before packet 1 could arrive
        {"Boot 1.2\r\nC", true},
        {"Ready\rC", true}, // a line may end in CR alone
        {"Erasing...\rC", true},
        {"Ready\r", false},
        {"\xFE"
         "C\x00",
         true}, // noise around a request
    };
    const std::vector<std::uint8_t> image = Image(2);
    for (const bool underWay : {false, true}) {
        for (const auto& [text, request] : cases) {
            for (std::size_t split = 0; split <= text.size(); ++split) {
                SCOPED_TRACE(testing::PrintToString(std::string(text)) + " split at " +
                             std::to_string(split) + (underWay ? ", packet 1 under way" : ""));
                Sender sender;
                ASSERT_TRUE(sender.Start(image));
                const std::vector<std::uint8_t> first =
                    underWay ? Request(sender) : std::vector<std::uint8_t>{};
                const std::vector<std::uint8_t> out =
                    ReadsThenQuiet(sender, {text.substr(0, split), text.substr(split)});
                if (request) {
                    ASSERT_EQ(out.size(), Sender::PacketSize);
                    EXPECT_EQ(out[1], 1);
                } else {
                    EXPECT_TRUE(out.empty());
                }
                EXPECT_EQ(sender.GetState(),
                          underWay || request ? Sender::State::Sending : Sender::State::Waiting);
                EXPECT_FALSE(sender.AwaitsQuiet()) << "the silence decided everything";
            }
        }
    }
}

TEST(XmodemSender, ALineWithoutItsEndEndsWhenTheReceiverFallsSilent) {
    const std::vector<std::uint8_t> image = Image(1);
    Sender sender;
    ASSERT_TRUE(sender.Start(image));
    // A prompt without a line end, and its 'C' at once: the line goes on.
    EXPECT_TRUE(sender.OnReceived(AsBytes("Boot> ")).empty());
    EXPECT_TRUE(sender.OnReceived(AsBytes("C")).empty());
    EXPECT_TRUE(sender.AwaitsQuiet());
    EXPECT_TRUE(sender.OnQuiet().empty());
    // The receiver's next 'C', after the silence, is one.
    EXPECT_EQ(Request(sender).size(), Sender::PacketSize);
}

// A receiver that stores the packets in order, acknowledges a repeat of the
// one it stored last (its ACK was lost) and refuses anything else, until the
// end of transfer. It refuses the packet numbered hitBlock once (a line hit).
class ModelReceiver {
public:
    explicit ModelReceiver(std::uint8_t hitBlock) : hitBlock_(hitBlock) {}

    // The answer to one write of the sender.
    std::uint8_t Take(const std::vector<std::uint8_t>& sent) {
        if (sent == std::vector<std::uint8_t>{Sender::Eot}) {
            ended = true;
            return Sender::Ack;
        }
        if (sent.size() != Sender::PacketSize || sent[0] != Sender::Soh) {
            return Sender::Nak;
        }
        if (sent[1] == hitBlock_ && !hit) {
            hit = true;
            return Sender::Nak;
        }
        if (sent[1] == expected_) {
            stored.insert(stored.end(), sent.begin() + 3, sent.begin() + 131);
            ++expected_;
            return Sender::Ack;
        }
        return sent[1] == static_cast<std::uint8_t>(expected_ - 1) ? Sender::Ack : Sender::Nak;
    }

    std::vector<std::uint8_t> stored;
    bool hit = false;
    bool ended = false;

private:
    std::uint8_t hitBlock_;
    std::uint8_t expected_ = 1;
};

// The line between them: what the sender wrote reaches the receiver in
// order, each of its answers is one read of the sender, and when nothing is
// under way the sender hears the receiver's silence. straysAfter: 'C's of
// the receiver's that reach the sender right after the ACK of that packet.
void RunOverTheLine(Sender& sender, ModelReceiver& receiver,
                    std::deque<std::vector<std::uint8_t>> line, std::uint8_t straysAfter = 0) {
    for (int step = 0; step < 1000 && !receiver.ended; ++step) {
        if (line.empty()) {
            if (!sender.AwaitsQuiet()) {
                return;
            }
            line.push_back(Bytes(sender.OnQuiet()));
            continue;
        }
        const std::vector<std::uint8_t> sent = line.front();
        line.pop_front();
        if (sent.empty()) {
            continue;
        }
        const std::uint8_t answer = receiver.Take(sent);
        line.push_back(Answer(sender, answer));
        if (sent[0] == Sender::Soh && sent[1] == straysAfter && answer == Sender::Ack) {
            line.push_back(Request(sender));
        }
    }
}

void ExpectEveryBlockStored(const Sender& sender, const ModelReceiver& receiver,
                            const std::vector<std::uint8_t>& image) {
    EXPECT_TRUE(receiver.hit);
    ASSERT_EQ(sender.GetState(), Sender::State::Finished);
    EXPECT_EQ(receiver.stored.size() / Sender::BlockSize, image.size() / Sender::BlockSize)
        << "blocks stored";
    EXPECT_TRUE(receiver.stored == image);
}

// A stray 'C' reaches the sender after packet 2's ACK, and the last packet
// is refused once. Every byte arrives.
TEST(XmodemSender, AStrayCDuringTheTransferLeavesNoPacketUnconfirmed) {
    const std::vector<std::uint8_t> image = Image(8);
    ModelReceiver receiver(8);
    Sender sender;
    ASSERT_TRUE(sender.Start(image));
    RunOverTheLine(sender, receiver, {Request(sender)}, 2);
    ExpectEveryBlockStored(sender, receiver, image);
}

// The receiver's next 'C' leaves it while packet 1 is on its way: alone, and
// the sender hears a silence longer than the brief one but shorter than the
// packet's round trip; with a noise byte after it; or just before the ACK of
// packet 1. The last packet is refused once. Packet 1 sent twice would draw
// two ACKs, the second taken for packet 2's, and the refusal of the last
// packet for a refusal of the end.
TEST(XmodemSender, ACCrossingPacket1OnTheLineDoesNotSendItTwice) {
    const std::vector<std::uint8_t> image = Image(5);
    for (const std::string_view stray : {"C"sv, "C\xFE"sv, "C\x06"sv}) {
        SCOPED_TRACE(testing::PrintToString(std::string(stray)));
        ModelReceiver receiver(5);
        Sender sender;
        ASSERT_TRUE(sender.Start(image));
        std::deque<std::vector<std::uint8_t>> line{Request(sender)};
        if (stray.back() == Sender::Ack) {
            // The receiver takes packet 1, and its ACK follows the 'C'.
            receiver.Take(line.front());
            line.clear();
        }
        line.push_back(Bytes(sender.OnReceived(AsBytes(stray))));
        if (!sender.AwaitsRoundTrip()) {
            line.push_back(Bytes(sender.OnQuiet()));
        }
        RunOverTheLine(sender, receiver, line);
        ExpectEveryBlockStored(sender, receiver, image);
    }
}

// While packet 1 is unacknowledged a 'C' yields to an ACK or NAK after it,
// in the same read or the next; alone it asks for packet 1 once the round
// trip's silence has passed. Before the start and after packet 1's ACK the
// brief silence decides.
TEST(XmodemSender, ACWhilePacket1IsUnacknowledgedYieldsToTheAnswerAfterIt) {
    enum class Writes { Packet1Again, Packet2 };
    const std::pair<std::string_view, Writes> cases[] = {
        {"C\x06", Writes::Packet2},     {"CC\x06", Writes::Packet2},
        {"C\xFE\x06", Writes::Packet2}, {"C\x15", Writes::Packet1Again},
        {"CC", Writes::Packet1Again},
    };
    const std::vector<std::uint8_t> image = Image(3);
    for (const auto& [text, writes] : cases) {
        for (std::size_t split = 0; split <= text.size(); ++split) {
            SCOPED_TRACE(testing::PrintToString(std::string(text)) + " split at " +
                         std::to_string(split));
            Sender sender;
            const std::vector<std::uint8_t> first = FirstPacketAskedFor(sender, image);
            const std::vector<std::uint8_t> out =
                ReadsThenQuiet(sender, {text.substr(0, split), text.substr(split)});
            if (writes == Writes::Packet2) {
                ASSERT_EQ(out.size(), Sender::PacketSize);
                EXPECT_EQ(out[1], 2);
            } else {
                EXPECT_EQ(out, first) << "packet 1 once";
            }
            EXPECT_EQ(sender.PacketsBuilt(), writes == Writes::Packet2 ? 2u : 1u);
        }
    }

    Sender sender;
    ASSERT_TRUE(sender.Start(image));
    EXPECT_TRUE(sender.OnReceived(AsBytes("C")).empty());
    EXPECT_FALSE(sender.AwaitsRoundTrip()) << "nothing is under way yet";
    const std::vector<std::uint8_t> first = Bytes(sender.OnQuiet());
    EXPECT_TRUE(sender.OnReceived(AsBytes("C")).empty());
    EXPECT_TRUE(sender.AwaitsRoundTrip());
    EXPECT_EQ(Bytes(sender.OnQuiet()), first);
    EXPECT_EQ(Answer(sender, Sender::Ack)[1], 2);
    EXPECT_TRUE(sender.OnReceived(AsBytes("C")).empty());
    EXPECT_FALSE(sender.AwaitsRoundTrip()) << "after packet 1's ACK a 'C' asks for nothing";
}

TEST(XmodemSender, ALateLineThatStartsWithCDoesNotStartTheTransfer) {
    const std::vector<std::uint8_t> image = Image(1);
    Sender sender;
    ASSERT_TRUE(sender.Start(image));
    const std::string_view late = "Clearing flash\r\n";
    EXPECT_TRUE(sender.OnReceived({reinterpret_cast<const std::uint8_t*>(late.data()), late.size()})
                    .empty());
    EXPECT_EQ(sender.GetState(), Sender::State::Waiting);
    const std::uint8_t twice[] = {'C', 'C'};
    EXPECT_EQ(Bytes(sender.OnReceived(twice)).size(), Sender::PacketSize);
    // One of the two 'C's was the receiver's first: none counts as a restart.
    for (unsigned c = 1; c < Sender::MaxRestarts; ++c) {
        EXPECT_FALSE(Request(sender).empty()) << c;
    }
    EXPECT_TRUE(Request(sender).empty());
    EXPECT_EQ(sender.GetFailure(), Sender::Failure::Restarted);
}

TEST(XmodemSender, ACancelCountsEvenAfterAnAnswerInTheSameRead) {
    const std::vector<std::uint8_t> image = Image(3);
    Sender cancelled;
    FirstPacketAskedFor(cancelled, image);
    const std::uint8_t ackThenCancel[] = {Sender::Ack, Sender::Can, Sender::Can};
    EXPECT_TRUE(cancelled.OnReceived(ackThenCancel).empty()) << "nothing more is sent";
    EXPECT_EQ(cancelled.GetFailure(), Sender::Failure::Cancelled);

    // Two in a row: anything between them breaks the row.
    Sender goesOn;
    FirstPacketAskedFor(goesOn, image);
    const std::uint8_t broken[] = {Sender::Can, 0xFE, Sender::Can, Sender::Ack};
    EXPECT_EQ(Bytes(goesOn.OnReceived(broken)).size(), Sender::PacketSize);
    EXPECT_EQ(goesOn.GetFailure(), Sender::Failure::None);
}

TEST(XmodemSender, ARefusingOrRestartingReceiverEndsTheTransferAtTheTenthTime) {
    const std::vector<std::uint8_t> image = Image(3);
    Sender refused;
    ASSERT_TRUE(refused.Start(image));
    Request(refused);
    const std::vector<std::uint8_t> second = Answer(refused, Sender::Ack);
    for (int nak = 1; nak < 10; ++nak) {
        EXPECT_EQ(Answer(refused, Sender::Nak), second) << nak;
    }
    EXPECT_TRUE(Answer(refused, Sender::Nak).empty());
    EXPECT_EQ(refused.GetState(), Sender::State::Failed);
    EXPECT_EQ(refused.GetFailure(), Sender::Failure::Refused);
    EXPECT_EQ(refused.PacketsBuilt(), 2u) << "the packet the cause names";

    // Refusals count per packet: an acknowledge starts the count again.
    Sender recovered;
    ASSERT_TRUE(recovered.Start(image));
    Request(recovered);
    for (int packet = 0; packet < 2; ++packet) {
        for (int nak = 1; nak < 10; ++nak) {
            Answer(recovered, Sender::Nak);
        }
        EXPECT_FALSE(Answer(recovered, Sender::Ack).empty());
    }
    EXPECT_EQ(recovered.GetState(), Sender::State::Sending);

    // 'C's count over the whole transfer, the first one aside.
    Sender restarted;
    ASSERT_TRUE(restarted.Start(image));
    Request(restarted);
    for (int c = 1; c < 5; ++c) {
        EXPECT_FALSE(Request(restarted).empty()) << c;
    }
    EXPECT_EQ(Answer(restarted, Sender::Ack)[1], 2);
    for (int c = 5; c < 10; ++c) {
        EXPECT_TRUE(Request(restarted).empty()) << "counted, not answered: " << c;
    }
    EXPECT_EQ(restarted.GetFailure(), Sender::Failure::None);
    EXPECT_TRUE(Request(restarted).empty());
    EXPECT_EQ(restarted.GetFailure(), Sender::Failure::Restarted);

    Sender cancelled;
    ASSERT_TRUE(cancelled.Start(image));
    const std::vector<std::uint8_t> first = Request(cancelled);
    // One CAN alone may be noise: the next ACK still moves on.
    EXPECT_TRUE(Answer(cancelled, Sender::Can).empty());
    EXPECT_EQ(cancelled.GetFailure(), Sender::Failure::None);
    EXPECT_NE(Answer(cancelled, Sender::Ack), first) << "the next packet follows";
    EXPECT_TRUE(Answer(cancelled, Sender::Can).empty());
    EXPECT_TRUE(Answer(cancelled, Sender::Can).empty());
    EXPECT_EQ(cancelled.GetFailure(), Sender::Failure::Cancelled);
    EXPECT_TRUE(Answer(cancelled, Sender::Ack).empty()) << "nothing more once failed";
}

TEST(XmodemSender, ARefusedEndOfTransferAlsoEndsAtTheTenthTime) {
    const std::vector<std::uint8_t> image = Image(1);
    Sender sender;
    ASSERT_TRUE(sender.Start(image));
    Request(sender);
    ASSERT_EQ(Answer(sender, Sender::Ack), std::vector<std::uint8_t>{Sender::Eot});
    for (int nak = 1; nak < 10; ++nak) {
        EXPECT_EQ(Answer(sender, Sender::Nak), std::vector<std::uint8_t>{Sender::Eot});
    }
    EXPECT_TRUE(Answer(sender, Sender::Nak).empty());
    EXPECT_EQ(sender.GetFailure(), Sender::Failure::Refused);
}

TEST(XmodemSender, RefusesImagesThatDoNotFillWholeBlocks) {
    Sender sender;
    EXPECT_FALSE(sender.Start({}));
    const std::vector<std::uint8_t> ragged(200);
    EXPECT_FALSE(sender.Start(ragged));
    EXPECT_TRUE(Request(sender).empty());
}

TEST(XmodemSender, LastPacketCarriesTheTrailer) {
    // 121 bytes fill one packet with a byte of padding; 122 need a second one.
    for (const std::size_t size : {std::size_t{121}, std::size_t{122}}) {
        SCOPED_TRACE(size);
        TPaddedImage image = PadImage(std::vector<std::uint8_t>(size, 0x33));
        AppendTrailer(image);
        const std::uint32_t length = size == 121 ? 122 : 250;
        std::vector<std::uint8_t> padded(size, 0x33);
        padded.resize(length, 0xFF);
        const std::uint16_t crc = testing_support::XmodemCrc(padded);
        Sender sender;
        ASSERT_TRUE(sender.Start(image.Bytes));
        std::vector<std::uint8_t> last = Request(sender);
        for (std::uint32_t n = 1; n < sender.PacketCount(); ++n) {
            last = Answer(sender, Sender::Ack);
        }
        EXPECT_EQ(sender.PacketCount(), size == 121 ? 1u : 2u);
        ASSERT_EQ(last.size(), Sender::PacketSize);
        EXPECT_EQ(std::vector<std::uint8_t>(last.begin() + 125, last.begin() + 131),
                  (std::vector<std::uint8_t>{static_cast<std::uint8_t>(length), 0, 0, 0,
                                             static_cast<std::uint8_t>(crc),
                                             static_cast<std::uint8_t>(crc >> 8)}));
        EXPECT_EQ(last[124], 0xFF) << "padding before the trailer";
    }
}

} // namespace
} // namespace programmers
