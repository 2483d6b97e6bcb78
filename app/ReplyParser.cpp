#include "app/ReplyParser.h"

#include "kernel/Stringunit.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>

namespace app {

namespace {

// Decimal digits from position (0-based); a number that does not fit 32 bits
// is no reply number.
std::int32_t NumberAt(const std::string& text, std::size_t position) {
    std::int64_t value = 0;
    bool any = false;
    for (std::size_t i = position; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        any = true;
        if (value > std::numeric_limits<std::int32_t>::max()) {
            return 0;
        }
    }
    return any ? static_cast<std::int32_t>(value) : 0;
}

float FloatAfter(const std::string& text, std::size_t position) {
    float value = 0;
    const char* first = text.data() + std::min(position, text.size());
    if (first < text.data() + text.size() && *first == '+') {
        ++first;
    }
    auto [end, error] = std::from_chars(first, text.data() + text.size(), value);
    return error == std::errc() ? value : 0.0f;
}

} // namespace

ReplyLine ParseReplyLine(const std::string& line) {
    ReplyLine reply;
    const int a = kernel::StrPosFrom(line, "A.", 0);
    const int c = kernel::StrPosFrom(line, "C.", 0);
    const int i = kernel::StrPosFrom(line, "I.", 0);
    const int b = kernel::StrPosFrom(line, "B.", 0);
    const int hash = kernel::StrPosFrom(line, "#", 0);
    const int dollar = kernel::StrPosFrom(line, "$", 0);
    reply.EndsWithBang = !line.empty() && line.back() == '!';
    reply.EndsWithQuestion = !line.empty() && line.back() == '?';
    reply.HasInfoPrefix = i > 0 || b > 0;
    reply.HasCommandPrefix = a > 0 || c > 0;
    reply.IsReply = reply.HasInfoPrefix || reply.HasCommandPrefix || reply.EndsWithBang ||
                    reply.EndsWithQuestion;
    if (!reply.IsReply) {
        return reply;
    }
    // Positions are 1-based; normally one prefix stands at the start.
    const std::size_t e = static_cast<std::size_t>(a) + c + i + b;
    reply.ReplyText = e < line.size() ? line.substr(e) : std::string();
    reply.Number = NumberAt(line, e + 1);
    if (hash > 0) {
        reply.HashText = line.substr(static_cast<std::size_t>(hash));
    }
    if (dollar > 0) {
        reply.HasDollar = true;
        reply.DollarValue = FloatAfter(line, static_cast<std::size_t>(dollar));
    }
    return reply;
}

void TRxBuffer::Append(const char* data, std::size_t length) {
    for (std::size_t k = 0; k < length; ++k) {
        data_.push_back(data[k] == '\0' ? ' ' : data[k]);
    }
    if (data_.size() > Capacity) {
        data_.erase(0, data_.size() - Capacity);
    }
}

bool TRxBuffer::HasLineEnd() const {
    return data_.find("\r\n") != std::string::npos;
}

bool TRxBuffer::TakeLine(std::string& line) {
    std::size_t end = data_.find("\r\n");
    if (end == std::string::npos) {
        return false;
    }
    line = data_.substr(0, end);
    data_.erase(0, end + 2);
    return true;
}

TRxBuffer::BootAnswer TRxBuffer::TakeBootAnswer() {
    static const std::array<std::string, 3> starts = {"h00h", "h11h", "h,,h"};
    static const std::array<char, 3> separators = {'\x1D', '\x1E', '\x19'};
    static const std::array<char, 3> terminators = {'\x0C', '\x0A', '\x0C'};
    constexpr char StopByte = '\x16';
    BootAnswer answer;
    for (std::size_t k = 0; k < starts.size(); ++k) {
        std::size_t start = data_.find(starts[k]);
        if (start == std::string::npos) {
            continue;
        }
        std::size_t stop = data_.find(StopByte, start + starts[k].size());
        if (stop == std::string::npos) {
            return answer; // the frame is still arriving
        }
        std::string frame = data_.substr(start, stop - start + 1);
        std::size_t separator = frame.find(separators[k]);
        std::size_t textStart = separator == std::string::npos ? frame.size() : separator + 1;
        std::size_t terminator = frame.find(terminators[k], textStart);
        std::size_t textEnd = terminator == std::string::npos ? frame.size() - 1 : terminator;
        answer.What = BootAnswer::Frame;
        answer.Text = textStart < textEnd ? frame.substr(textStart, textEnd - textStart) : "";
        // Only the frame goes; what came before or after it stays.
        data_.erase(start, frame.size());
        return answer;
    }
    std::size_t single = data_.find_first_of(std::string("\x90Q", 2));
    if (single != std::string::npos) {
        answer.What = BootAnswer::Byte;
        answer.Character = data_[single];
        data_.clear();
    }
    return answer;
}

} // namespace app
