#include "../serial/Pty.h"
#include "../support/TempFolder.h"
#include "SimulatedInstrument.h"
#include "platform/Process.h"
#include "programmers/PaddedImage.h"
#include "programmers/XmodemSender.h"
#include "tests/support/TiTxtImage.h"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>

namespace {

using testing_support::TempFolder;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int WaitExit(pid_t pid) {
    int status = 0;
    for (int i = 0; i < 3000 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Our sender against lrzsz's receiver, which also corrupts its own CRC
// check now and then (--errors) so that packets are refused and repeated.
TEST(XmodemInterop, LrzszReceiverGetsTheImageIntact) {
    TempFolder folder;
    programmers::TPaddedImage image = programmers::PadImage(titxt_test::Pattern(40000, 5));
    programmers::AppendTrailer(image);
    serialtest::Pty pty;
    const std::string received = folder.File("received.bin");
    const pid_t rx =
        platform::SpawnProcess({LRZSZ_RX, "-U", "-c", "-b", "-q", "--errors", "9000", received},
                               {pty.SlavePath(), pty.SlavePath(), folder.File("rx.err")});
    ASSERT_GT(rx, 0);

    programmers::TXmodemSender sender;
    ASSERT_TRUE(sender.Start(image.Bytes));
    int naks = 0;
    int status = 0;
    bool exited = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (sender.GetState() != programmers::TXmodemSender::State::Finished && !exited &&
           std::chrono::steady_clock::now() < deadline) {
        const std::string got = pty.Receive(1, 500);
        if (got.empty() && sender.AwaitsQuiet()) {
            const auto reply = sender.OnQuiet();
            pty.Send(std::string(reply.begin(), reply.end()));
            continue;
        }
        if (got.empty()) {
            exited = ::waitpid(rx, &status, WNOHANG) == rx;
            continue;
        }
        naks += got[0] == programmers::TXmodemSender::Nak ? 1 : 0;
        const auto reply =
            sender.OnReceived({reinterpret_cast<const std::uint8_t*>(got.data()), got.size()});
        pty.Send(std::string(reply.begin(), reply.end()));
    }
    // The receiver may close the line right after its last ACK, which the
    // pty then drops: its exit status and the file tell the outcome.
    EXPECT_GE(sender.GetState(), programmers::TXmodemSender::State::EotSent);
    const int code = exited ? (WIFEXITED(status) ? WEXITSTATUS(status) : -1) : WaitExit(rx);
    EXPECT_EQ(code, 0) << ReadAll(folder.File("rx.err"));
    EXPECT_GT(naks, 0) << "the receiver's injected errors were repeated";
    const std::string file = ReadAll(received);
    EXPECT_EQ(file.size(), image.Bytes.size());
    EXPECT_TRUE(file == std::string(image.Bytes.begin(), image.Bytes.end()));
}

// The python package's sender against the simulated bootloader's receiver.
TEST(XmodemInterop, PythonSenderIsAcceptedByTheSimulatedBootloader) {
    TempFolder folder;
    const std::vector<std::uint8_t> file = titxt_test::Pattern(5000, 8);
    folder.Write("send.bin", std::string(file.begin(), file.end()));
    bsltest::SimulatedInstrument instrument(
        "start_mode=0\nbaud=4800\nstop_bits=2\npcb=1\ndevice=2\nversion=1\nserial=3\n"
        "start=loader\nloader=xmodem\nloader.version=1.05\nflash_start=0\nflash_size=0x2000\n",
        folder.File("instrument.log"), 1);
    folder.Write("send.py", R"(import os, sys, termios, time, xmodem
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
attrs = termios.tcgetattr(fd)
attrs[0] = attrs[1] = attrs[3] = 0
attrs[2] = termios.CS8 | termios.CSTOPB | termios.CREAD | termios.CLOCAL
attrs[4] = attrs[5] = termios.B115200
termios.tcsetattr(fd, termios.TCSANOW, attrs)
def getc(size, timeout=1):
    end = time.time() + timeout
    data = b''
    while len(data) < size and time.time() < end:
        try:
            data += os.read(fd, size - len(data))
        except BlockingIOError:
            time.sleep(0.005)
    return data or None
def putc(data, timeout=1):
    return os.write(fd, data)
os.set_blocking(fd, False)
os.write(fd, b'u')
with open(sys.argv[2], 'rb') as stream:
    ok = xmodem.XMODEM(getc, putc).send(stream, quiet=True)
os.write(fd, b'c')
line = b''
while not line.endswith(b'\r\n'):
    c = getc(1, 5)
    if c is None:
        break
    line += c
print(line.decode(errors='replace').strip())
sys.exit(0 if ok else 1)
)");
    const pid_t python = platform::SpawnProcess(
        {SYSTEM_PYTHON, folder.File("send.py"), instrument.SlavePath(), folder.File("send.bin")},
        {"/dev/null", folder.File("py.out"), folder.File("py.err")});
    ASSERT_GT(python, 0);
    EXPECT_EQ(WaitExit(python), 0) << ReadAll(folder.File("py.err"));
    instrument.Stop();
    // The package pads the last packet with 0x1A.
    std::vector<std::uint8_t> expected = file;
    expected.resize((file.size() + 127) / 128 * 128, 0x1A);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(instrument.Flash(static_cast<std::uint32_t>(i)), expected[i]) << i;
    }
    EXPECT_EQ(ReadAll(folder.File("py.out")).rfind("I.1205#", 0), 0u)
        << ReadAll(folder.File("py.out"));
}

} // namespace
