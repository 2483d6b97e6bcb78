// mspdebug's flash-bsl driver as an independent client of the 5xx loader: a misreading
// of the protocol shared by the simulator and the tool cannot hide from it.
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iomanip>
#include <map>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace sim {
namespace {

using Image = std::map<std::uint32_t, std::uint8_t>;

struct TempDir {
    std::string path;
    TempDir() {
        std::string pattern = testing::TempDir() + "/mspdebug-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr)
            path = pattern;
    }
    ~TempDir() {
        if (!path.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    }
    std::string File(const std::string& name) const { return path + "/" + name; }
};

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// A child process, killed and reaped on destruction if still running.
struct Child {
    pid_t pid = -1;
    ~Child() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    // Exit status, or -1 after a signal or when killed at the bound.
    int Wait(std::chrono::seconds bound, bool& timedOut) {
        timedOut = false;
        auto deadline = std::chrono::steady_clock::now() + bound;
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                timedOut = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        pid = -1;
        return !timedOut && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

std::string TiTxt(const Image& image) {
    std::ostringstream out;
    out << std::hex << std::uppercase << std::setfill('0');
    std::uint32_t next = 0;
    int column = 0;
    bool first = true;
    for (auto [address, byte] : image) {
        if (column == 16 || (column != 0 && address != next)) {
            out << '\n';
            column = 0;
        }
        if (first || address != next)
            out << '@' << address << '\n';
        out << (column == 0 ? "" : " ") << std::setw(2) << int{byte};
        ++column;
        next = address + 1;
        first = false;
    }
    out << (column == 0 ? "" : "\n") << "q\n";
    return out.str();
}

Image ParseTiTxt(const std::string& text) {
    Image image;
    std::istringstream in(text);
    std::string word;
    std::uint32_t address = 0;
    while (in >> word && word != "q") {
        if (word[0] == '@')
            address = static_cast<std::uint32_t>(std::stoul(word.substr(1), nullptr, 16));
        else
            image[address++] = static_cast<std::uint8_t>(std::stoul(word, nullptr, 16));
    }
    return image;
}

bool IsHex(const std::string& word) {
    return !word.empty() && word.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The hex dump of mspdebug's "md": "    0fff0: 00 5c ... |.\.\|"; other lines are skipped.
Image ParseMd(const std::string& output) {
    Image image;
    std::istringstream in(output);
    std::string text;
    while (std::getline(in, text)) {
        std::size_t colon = text.find(':');
        std::size_t bar = text.find('|', colon);
        if (text.empty() || text[0] != ' ' || colon == std::string::npos ||
            bar == std::string::npos)
            continue;
        std::istringstream words(text.substr(0, bar));
        std::string word;
        if (!(words >> word) || word.back() != ':')
            continue;
        word.pop_back();
        if (word.size() < 5 || !IsHex(word))
            continue;
        auto address = static_cast<std::uint32_t>(std::stoul(word, nullptr, 16));
        while (words >> word && word.size() == 2 && IsHex(word))
            image[address++] = static_cast<std::uint8_t>(std::stoul(word, nullptr, 16));
    }
    return image;
}

// Each byte depends on its whole address, so that data landing elsewhere shows.
void Put(Image& image, std::uint32_t first, std::uint32_t count) {
    for (std::uint32_t address = first; address < first + count; ++address)
        image[address] = static_cast<std::uint8_t>((address * 2654435761u) >> 24);
}

TEST(Mspdebug, FlashBslErasesWritesAndReadsBackThroughTheLoader) {
    const std::string mspdebug = MSPDEBUG_PROGRAM;
    if (mspdebug.empty() || access(mspdebug.c_str(), X_OK) != 0)
        GTEST_SKIP() << "mspdebug is not installed (scripts/install-deps.sh installs it)";

    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    // Flash cannot set bits: the preset reset vector 0x4400 becomes the image's 0x5C00
    // only after an erase.
    std::ofstream(dir.File("chip.profile"))
        << "start_mode=0\nbaud=4800\nstop_bits=2\npcb=1\ndevice=2\nversion=1.23\nserial=3\n"
           "start=loader\nloader=msp430-5xx\nloader.chip_id=5438\npassword=4400\n"
           "flash_start=0x1000\nflash_size=0x44C00\n";
    Image image;
    Put(image, 0x5C00, 40);
    Put(image, 0x1FF00, 600); // more than one frame, across a 64 KiB page
    for (std::uint32_t vector = 0xFFE0; vector < 0x10000; vector += 2) {
        std::uint32_t target = vector == 0xFFFE ? 0x5C00 : 0x5C00 + (vector & 0x1F);
        image[vector] = static_cast<std::uint8_t>(target);
        image[vector + 1] = static_cast<std::uint8_t>(target >> 8);
    }
    std::ofstream(dir.File("image.txt")) << TiTxt(image);

    int out[2];
    ASSERT_EQ(pipe(out), 0);
    Child sim;
    {
        std::vector<std::string> args = {
            SIM_PROGRAM,           "--profile",    dir.File("chip.profile"),  "--flash-out",
            dir.File("flash.txt"), "--transcript", dir.File("transcript.log")};
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_addclose(&fa, out[0]);
        if (posix_spawn(&sim.pid, SIM_PROGRAM, &fa, nullptr, Pointers(args).data(), environ) != 0)
            sim.pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(out[1]);
    }
    std::string first;
    char c;
    while (first.size() < 200 && read(out[0], &c, 1) == 1 && c != '\n')
        first.push_back(c);
    close(out[0]);
    ASSERT_GT(sim.pid, 0);
    ASSERT_TRUE(first.starts_with("PTY /dev/")) << first;
    const std::string pty = first.substr(4);

    std::vector<std::string> args = {mspdebug,
                                     "-n",
                                     "--long-password",
                                     "-d",
                                     pty,
                                     "flash-bsl",
                                     "prog " + dir.File("image.txt"),
                                     "md 0x5C00 40",
                                     "md 0x1FF00 600",
                                     "md 0xFFE0 32"};
    std::vector<std::string> env = {std::string("LD_PRELOAD=") + PTY_MODEM_SHIM};
    for (char** e = environ; *e != nullptr; ++e)
        if (!std::string(*e).starts_with("LD_PRELOAD="))
            env.emplace_back(*e);
    Child client;
    {
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, dir.File("mspdebug.out").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&fa, 1, 2);
        if (posix_spawn(&client.pid, mspdebug.c_str(), &fa, nullptr, Pointers(args).data(),
                        Pointers(env).data()) != 0)
            client.pid = -1;
        posix_spawn_file_actions_destroy(&fa);
    }
    ASSERT_GT(client.pid, 0);
    bool timedOut = false;
    int status = client.Wait(std::chrono::seconds(60), timedOut);
    const std::string output = ReadText(dir.File("mspdebug.out"));
    kill(sim.pid, SIGTERM);
    bool simTimedOut = false;
    EXPECT_EQ(sim.Wait(std::chrono::seconds(10), simTimedOut), 0);

    ASSERT_FALSE(timedOut) << "mspdebug killed after 60 s\n" << output;
    ASSERT_EQ(status, 0) << output << ReadText(dir.File("transcript.log"));
    // Compared as TI-TXT, so that a failure shows the differing lines.
    EXPECT_EQ(TiTxt(ParseMd(output)), TiTxt(image)) << output;
    EXPECT_EQ(TiTxt(ParseTiTxt(ReadText(dir.File("flash.txt")))), TiTxt(image));
}

} // namespace
} // namespace sim
