// 200 sessions in one update-console process, typed on its standard input
// (a pseudo-terminal, so that it asks its questions there), with the tool's
// peak and current resident size and open descriptors after every 20.
//
//   console_soak_bench
#include "SoakSetup.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>

namespace {

// Counts the occurrences of a text in a file that keeps growing, reading
// only what was added since the last look.
class Follower {
public:
    Follower(std::string path, std::string text) : path_(std::move(path)), text_(std::move(text)) {}
    int Count() {
        std::ifstream in(path_, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(offset_));
        std::string added((std::istreambuf_iterator<char>(in)), {});
        offset_ += added.size();
        tail_ += added;
        for (std::size_t at = tail_.find(text_); at != std::string::npos;
             at = tail_.find(text_, at + text_.size())) {
            ++count_;
        }
        // Only a match split over two looks needs what came before.
        if (tail_.size() >= text_.size()) {
            tail_.erase(0, tail_.size() - (text_.size() - 1));
        }
        return count_;
    }
    // True once the count has passed seen; false after the bound.
    bool WaitPast(int seen, std::chrono::seconds bound = std::chrono::seconds(60)) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (Count() <= seen) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

private:
    std::string path_;
    std::string text_;
    std::size_t offset_ = 0;
    std::string tail_;
    int count_ = 0;
};

} // namespace

int main() {
    soak::Bench bench;
    if (!bench.Ready()) {
        std::fprintf(stderr, "the simulated instrument did not start; see %s\n",
                     bench.File("sim.out").c_str());
        return 1;
    }
    // A terminal on standard input: the tool then asks its questions there.
    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0 || ::grantpt(terminal) != 0 || ::unlockpt(terminal) != 0) {
        std::perror("posix_openpt");
        return 1;
    }
    const std::string input = ::ptsname(terminal);
    const int held = ::open(input.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    ::tcgetattr(held, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(held, TCSANOW, &raw);

    const pid_t tool = platform::SpawnProcess(
        {UPDATE_CONSOLE, "--dir", bench.File("prog"), "--ports", bench.File("ports"),
         "--time-divisor", soak::TimeDivisor, "--trace"},
        {input, bench.File("tool.out"), bench.File("tool.trace")});
    auto type = [&](const std::string& line) {
        const std::string text = line + "\n";
        return ::write(terminal, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    };
    Follower question(bench.File("tool.out"), "yes/no> ");
    Follower box(bench.File("tool.out"), "(Enter)> ");
    Follower okEnabled(bench.File("tool.trace"), "OkBitBtn.Enabled = true");

    soak::FigureTable table("update-console driven through standard input");
    const std::string pid = std::to_string(tool);
    bool ok = true;
    for (int session = 1; ok && session <= soak::Sessions; ++session) {
        const int questions = question.Count();
        const int boxes = box.Count();
        const int enabled = okEnabled.Count();
        ok = type("ok");
        switch (soak::StepOf(session)) {
        case soak::Step::AnswerNo:
            ok = ok && question.WaitPast(questions) && type("no");
            break;
        case soak::Step::AnswerYesAndFail:
            ok = ok && question.WaitPast(questions) && type("yes");
            [[fallthrough]];
        case soak::Step::Retry:
            ok = ok && box.WaitPast(boxes) && type("");
            break;
        }
        ok = ok && okEnabled.WaitPast(enabled);
        if (!ok) {
            std::ifstream out(bench.File("tool.out"), std::ios::binary);
            const std::string text((std::istreambuf_iterator<char>(out)), {});
            std::fprintf(stderr,
                         "session %d did not end as planned; the tool's last output:\n%s\n"
                         "(kept: %s)\n",
                         session, text.substr(text.size() > 600 ? text.size() - 600 : 0).c_str(),
                         bench.File("").c_str());
            bench.Keep();
            break;
        }
        if (session % soak::FiguresEvery == 0) {
            table.Add(session, soak::FiguresOf(pid));
        }
    }
    type("quit");
    int status = 0;
    for (int i = 0; i < 500 && ::waitpid(tool, &status, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (::waitpid(tool, &status, WNOHANG) == 0) {
        ::kill(tool, SIGKILL);
        ::waitpid(tool, &status, 0);
    }
    ::close(held);
    ::close(terminal);
    if (ok) {
        table.Summary();
    }
    return ok ? 0 : 1;
}
