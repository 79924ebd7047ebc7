// The mbox reader: a buffered line scanner over the file that keeps at most one message (and a
// block of lookahead) in memory, whatever the size of the file.
#include "desk/mail/Mbox.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace desk {

namespace {

constexpr std::size_t kBlock = 256u << 10;
// Longer lines are handed on in pieces of this size; a piece never starts a message.
constexpr std::size_t kPiece = 64u << 10;
// A "From " line is short; looking this far for its end is enough.
constexpr std::size_t kFromLineMax = 1024;

bool StartsWith(const char* begin, const char* end, const char* prefix) {
    const std::size_t n = std::strlen(prefix);
    return static_cast<std::size_t>(end - begin) >= n && std::memcmp(begin, prefix, n) == 0;
}

// A line that separates messages: "From ", a sender, and a date that reads as one. Body lines
// that merely begin with "From " ("From Salzburg here is ...") carry no date, so a writer that
// did not quote them does not split its message there.
bool IsSeparator(const char* begin, const char* end) {
    if (!StartsWith(begin, end, "From ")) return false;
    if (static_cast<std::size_t>(end - begin) > kFromLineMax) return false;
    return !FromLineDate(std::string_view(begin, static_cast<std::size_t>(end - begin))).empty();
}

// ">From ", ">>From " ...: the quoted forms of mboxo and mboxrd, undone by one ">".
bool IsQuotedFrom(const char* begin, const char* end) {
    const char* p = begin;
    while (p < end && *p == '>') ++p;
    return p > begin && StartsWith(p, end, "From ");
}

bool IsBlankLine(const char* begin, const char* end) {
    return (end - begin == 1 && begin[0] == '\n') || (end - begin == 2 && begin[0] == '\r' && begin[1] == '\n');
}

// Up to `max` blank-separated tokens of `text`; returns how many.
std::size_t Tokens(std::string_view text, std::string_view* tokens, std::size_t max) {
    std::size_t count = 0, at = 0;
    while (at < text.size() && count < max) {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
        std::size_t end = at;
        while (end < text.size() && text[end] != ' ' && text[end] != '\t') ++end;
        if (end > at) tokens[count++] = text.substr(at, end - at);
        at = end;
    }
    return count;
}

int IndexOf(std::string_view token, const char* const names[], int count) {
    for (int i = 0; i < count; ++i)
        if (token.size() == 3 && strncasecmp(token.data(), names[i], 3) == 0) return i;
    return -1;
}

// The number `s` spells with `min` to `max` digits, or -1.
int Number(std::string_view s, std::size_t min, std::size_t max) {
    if (s.size() < min || s.size() > max) return -1;
    int value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long long DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * static_cast<unsigned>(m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(d) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

}  // namespace

std::string FromLineDate(std::string_view text) {
    static const char* const kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    if (text.substr(0, 5) != "From ") return "";
    std::string_view tokens[16];
    const std::size_t count = Tokens(text.substr(5), tokens, 16);
    // The sender comes first and may be anything; the date is "Www Mmm dd hh:mm[:ss]" followed
    // by the year, with a zone before or after it.
    for (std::size_t i = 0; i + 3 < count; ++i) {
        if (IndexOf(tokens[i], kDays, 7) < 0) continue;
        const int month = IndexOf(tokens[i + 1], kMonths, 12);
        const int day = Number(tokens[i + 2], 1, 2);
        if (month < 0 || day < 1 || day > 31) continue;
        const std::string_view clock = tokens[i + 3];
        int hour = -1, minute = -1, second = 0;
        if ((clock.size() == 8 && clock[5] == ':') || clock.size() == 5) {
            hour = clock[2] == ':' ? Number(clock.substr(0, 2), 2, 2) : -1;
            minute = Number(clock.substr(3, 2), 2, 2);
            if (clock.size() == 8) second = Number(clock.substr(6, 2), 2, 2);
        }
        if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60) continue;
        int year = -1, offsetMinutes = 0;
        for (std::size_t j = i + 4; j < count && j < i + 6; ++j) {
            const std::string_view t = tokens[j];
            const int digits = Number(t, 4, 4);
            if (year < 0 && digits >= 0) year = digits;
            else if (t.size() == 5 && (t[0] == '+' || t[0] == '-') && Number(t.substr(1), 4, 4) >= 0)
                offsetMinutes = (t[0] == '-' ? -1 : 1) * (Number(t.substr(1, 2), 2, 2) * 60 + Number(t.substr(3, 2), 2, 2));
        }
        if (year < 1970) continue;
        long long seconds = DaysFromCivil(year, month + 1, day) * 86400 + hour * 3600 + minute * 60 + second -
                            offsetMinutes * 60;
        if (seconds < 0) return "";
        const long long days = seconds / 86400;
        seconds %= 86400;
        // Back to a civil date (the inverse of DaysFromCivil).
        const long long z = days + 719468;
        const long long era = z / 146097;
        const unsigned doe = static_cast<unsigned>(z - era * 146097);
        const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
        const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
        const unsigned mp = (5 * doy + 2) / 153;
        const unsigned d = doy - (153 * mp + 2) / 5 + 1;
        const unsigned m = mp < 10 ? mp + 3 : mp - 9;
        const long long y = static_cast<long long>(yoe) + era * 400 + (m <= 2);
        char iso[64];
        std::snprintf(iso, sizeof iso, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ", y, m, d, seconds / 3600,
                      seconds / 60 % 60, seconds % 60);
        return iso;
    }
    return "";
}

CMboxReader::CMboxReader(int fd, std::size_t maxMessage) : fd_(fd), maxMessage_(maxMessage) {}

CMboxReader::CMboxReader(std::string bytes, std::size_t maxMessage)
    : maxMessage_(maxMessage), buffer_(std::move(bytes)), eof_(true) {}

CMboxReader::~CMboxReader() {
    if (fd_ >= 0) ::close(fd_);
}

// Makes `wanted` bytes from pos_ on available (fewer at the end of the file). Returns false when
// nothing more can come.
bool CMboxReader::Fill(std::size_t wanted) {
    while (!eof_ && buffer_.size() - pos_ < wanted) {
        // What lies before the current line is done with.
        const std::size_t done = pos_;
        if (done >= kBlock && done * 2 >= buffer_.size()) {
            buffer_.erase(0, done);
            pos_ = 0;
            dropped_ += done;
        }
        const std::size_t old = buffer_.size();
        buffer_.resize(old + kBlock);
        ssize_t got;
        do got = ::read(fd_, &buffer_[old], kBlock);
        while (got < 0 && errno == EINTR);
        buffer_.resize(old + (got > 0 ? static_cast<std::size_t>(got) : 0));
        if (got < 0) error_ = std::strerror(errno);
        if (got <= 0) eof_ = true;
    }
    return buffer_.size() > pos_;
}

// The next line from pos_ ([begin, end) with its line end), or the next piece of a longer line;
// `whole` says it starts a line. With `consume` pos_ moves past it.
bool CMboxReader::NextLine(std::size_t& begin, std::size_t& end, bool& whole, bool consume) {
    std::size_t searched = 0;
    for (;;) {
        const std::size_t available = buffer_.size() - pos_;
        const std::size_t limit = std::min(available, kPiece);
        const void* newline = searched < limit ? std::memchr(&buffer_[pos_ + searched], '\n', limit - searched) : nullptr;
        if (newline) {
            end = static_cast<std::size_t>(static_cast<const char*>(newline) - buffer_.data()) + 1;
            break;
        }
        searched = limit;
        if (available >= kPiece || eof_) {
            if (available == 0) return false;
            end = pos_ + limit;
            break;
        }
        Fill(available + kBlock);
    }
    begin = pos_;
    whole = lineStart_;
    if (consume) {
        pos_ = end;
        lineStart_ = buffer_[end - 1] == '\n';
    }
    return true;
}

// IsSeparator for the line at [begin, end), each line's date read once however often it is asked.
bool CMboxReader::SeparatorAt(std::size_t begin, std::size_t end) {
    if (!StartsWith(&buffer_[begin], buffer_.data() + end, "From ")) return false;
    if (dropped_ + begin != separatorOffset_) {
        separatorOffset_ = dropped_ + begin;
        separatorDate_ = end - begin > kFromLineMax ? "" : FromLineDate(std::string_view(&buffer_[begin], end - begin));
    }
    return !separatorDate_.empty();
}

bool CMboxReader::AtSeparator() {
    std::size_t begin, end;
    bool whole;
    return NextLine(begin, end, whole, false) && whole && SeparatorAt(begin, end);
}

// Takes the body as the Content-Length header measures it, if that lands on a message boundary:
// the end of the file or a "From " line, with or without a blank line before it.
bool CMboxReader::TakeByContentLength(std::size_t length, MboxMessage& message) {
    Fill(length + kFromLineMax + 2);
    const std::size_t bodyBegin = pos_;  // (the filling may have moved the buffer)
    const std::size_t end = bodyBegin + length;
    if (end > buffer_.size()) return false;
    const char* data = buffer_.data();
    auto separatorAt = [&](std::size_t at) {
        if (at == buffer_.size()) return eof_;
        const std::size_t span = std::min(buffer_.size() - at, kFromLineMax);
        const void* newline = std::memchr(data + at, '\n', span);
        const char* lineEnd = newline ? static_cast<const char*>(newline) + 1 : data + at + span;
        return IsSeparator(data + at, lineEnd);
    };
    std::size_t next;
    const bool atLineStart = length == 0 || data[end - 1] == '\n';
    if (atLineStart && separatorAt(end)) next = end;
    else if (end < buffer_.size() && data[end] == '\n' && separatorAt(end + 1)) next = end + 1;
    else if (end + 1 < buffer_.size() && data[end] == '\r' && data[end + 1] == '\n' && separatorAt(end + 2)) next = end + 2;
    else return false;
    // mboxcl quotes "From " lines in the body, mboxcl2 does not. A body with an unquoted
    // "From " line was not quoted, so its ">From " lines are the sender's own.
    bool quoted = true;
    for (std::size_t at = bodyBegin; at < end && quoted;) {
        const void* newline = std::memchr(data + at, '\n', end - at);
        const std::size_t lineEnd = newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - data) + 1 : end;
        if (StartsWith(data + at, data + lineEnd, "From ")) quoted = false;
        at = lineEnd;
    }
    message.bytes.reserve(message.bytes.size() + length);
    for (std::size_t at = bodyBegin; at < end;) {
        const void* newline = std::memchr(data + at, '\n', end - at);
        const std::size_t lineEnd = newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - data) + 1 : end;
        const bool unquote = quoted && IsQuotedFrom(data + at, data + lineEnd);
        message.bytes.append(data + at + (unquote ? 1 : 0), data + lineEnd);
        at = lineEnd;
    }
    pos_ = next;
    lineStart_ = true;
    return true;
}

bool CMboxReader::Next(MboxMessage& message) {
    message = MboxMessage();
    std::size_t begin, end;
    bool whole;
    // The first message starts at the first "From " line; whatever stands before it is no mail.
    for (;;) {
        if (!NextLine(begin, end, whole, false)) return false;
        const bool from = whole && StartsWith(&buffer_[begin], buffer_.data() + end, "From ");
        if (from && (SeparatorAt(begin, end) || count_ == 0)) break;
        NextLine(begin, end, whole, true);
    }
    message.number = ++count_;
    message.offset = dropped_ + begin;
    message.fromLineDate = separatorDate_;
    NextLine(begin, end, whole, true);

    bool tooLarge = false;
    // Past the cap the message's bytes are let go and the rest of it only scanned for its end.
    auto append = [&](const char* data, std::size_t size) {
        if (tooLarge) return;
        if (message.bytes.size() + size > maxMessage_) {
            tooLarge = true;
            std::string().swap(message.bytes);
            return;
        }
        message.bytes.append(data, size);
    };
    // The header, up to its blank line, noting a Content-Length.
    long long contentLength = -1;
    bool inHeader = true;
    while (inHeader && !AtSeparator() && NextLine(begin, end, whole, true)) {
        const char* line = &buffer_[begin];
        if (IsBlankLine(line, buffer_.data() + end)) inHeader = false;
        else if (whole && end - begin > 15 && strncasecmp(line, "Content-Length:", 15) == 0) {
            const std::string value(line + 15, end - begin - 15);
            std::size_t at = 0;
            while (at < value.size() && (value[at] == ' ' || value[at] == '\t')) ++at;
            std::size_t digits = at;
            while (digits < value.size() && value[digits] >= '0' && value[digits] <= '9') ++digits;
            const std::string number = value.substr(at, digits - at);
            contentLength = !number.empty() && number.size() <= 12 ? std::stoll(number) : -1;
        }
        append(line, end - begin);
    }
    if (!inHeader && !tooLarge && contentLength >= 0 &&
        static_cast<unsigned long long>(contentLength) <= maxMessage_ - message.bytes.size() &&
        TakeByContentLength(static_cast<std::size_t>(contentLength), message))
        return true;
    // The body up to the next "From " line. The blank line a writer puts before that line is
    // the mbox's, not the message's.
    std::string blank;  // a blank line held back until the next line shows it was the message's
    while (!inHeader && !AtSeparator() && NextLine(begin, end, whole, true)) {
        const char* line = &buffer_[begin];
        append(blank.data(), blank.size());
        blank.clear();
        if (whole && IsBlankLine(line, buffer_.data() + end)) {
            blank.assign(line, end - begin);
            continue;
        }
        const std::size_t skip = whole && IsQuotedFrom(line, buffer_.data() + end) ? 1 : 0;
        append(line + skip, end - begin - skip);
    }
    if (!error_.empty()) {
        message.damage = "the file could not be read past this message: " + error_;
        message.bytes.clear();
    } else if (tooLarge) {
        message.damage = "larger than " + std::to_string(maxMessage_ >> 20) + " MiB, not read";
    }
    return true;
}

}  // namespace desk
