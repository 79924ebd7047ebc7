// Splits an mbox into its messages the way its writer wrote them: "From " lines (mboxo, mboxrd,
// with their >From quoting undone) or Content-Length headers (mboxcl, mboxcl2), one message in
// memory at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "desk/Guards.h"

namespace desk {

// One message of an mbox.
struct MboxMessage {
    std::string bytes;          // the message as its writer meant it: quoting undone, separator line dropped
    std::size_t number = 0;     // 1 for the first message of the file
    std::uint64_t offset = 0;   // where its "From " line starts in the file
    std::string fromLineDate;   // the "From " line's date as ISO 8601 UTC, "" when it has none readable
    std::string damage;         // "" or why the message cannot be read (its bytes are then empty)
};

// The largest message the reader holds; a larger one is skipped and named as damaged.
constexpr std::size_t kMaxMboxMessage = 64u << 20;

class CMboxReader : CNonCopyable {
public:
    // Reads from `fd`, which the reader closes.
    explicit CMboxReader(int fd, std::size_t maxMessage = kMaxMboxMessage);
    // Reads an mbox held in memory (tests, the fuzzer).
    explicit CMboxReader(std::string bytes, std::size_t maxMessage = kMaxMboxMessage);
    ~CMboxReader();

    // The next message; false at the end of the file or after a read error (see Error).
    bool Next(MboxMessage& message);
    // "" or why the file could not be read to its end.
    const std::string& Error() const { return error_; }

private:
    bool Fill(std::size_t wanted);
    bool NextLine(std::size_t& begin, std::size_t& end, bool& whole, bool consume);
    bool SeparatorAt(std::size_t begin, std::size_t end);
    bool AtSeparator();
    bool TakeByContentLength(std::size_t length, MboxMessage& message);

    int fd_ = -1;
    std::size_t maxMessage_;
    std::string buffer_;
    std::size_t pos_ = 0;
    std::uint64_t dropped_ = 0;                 // file offset of buffer_[0]
    bool eof_ = false;
    bool lineStart_ = true;
    std::size_t count_ = 0;
    std::uint64_t separatorOffset_ = UINT64_MAX;  // the last "From " line looked at, and its date
    std::string separatorDate_;
    std::string error_;
};

// The date of an mbox "From " line ("From sender Mon Dec  7 09:30:00 2026", with or without a
// zone) as ISO 8601 UTC; "" when the line carries none. A date without a zone is taken as UTC.
std::string FromLineDate(std::string_view line);

}  // namespace desk
