// Reading registration records out of mail messages with GMime: the text parts in their
// charsets and transfer encodings, HTML bodies, format=flowed, forwarded messages.
#pragma once

#include <gmime/gmime.h>

#include <functional>
#include <string>
#include <vector>

#include "desk/Database.h"
#include "desk/mail/MailReader.h"

namespace desk {

// Sets GMime up for the process (once) and shuts it down at the end.
class CGMimeLibrary : CNonCopyable {
public:
    CGMimeLibrary();
    ~CGMimeLibrary();
};

// More different records than one message holds in earnest (a body and its attached copy are
// one): a message with more is rejected whole rather than filling the review list.
constexpr std::size_t kMaxRecordsPerMessage = 10;

// The registrations in one message, ready for CDatabase::Add: channel "mail", the Message-ID
// (or `fallbackRef` when it has none) as sourceRef, the Date header as receivedAt. Empty when
// the message holds no record, or is refused: then `refusal` (when given) says why.
std::vector<Registration> RegistrationsFromMessage(GMimeMessage* message, const std::string& sourceFile,
                                                   const std::string& fallbackRef, std::string* refusal = nullptr);

// Parses a whole message held in memory (for tests and the fuzzer); null when GMime finds none.
CGObject<GMimeMessage> ParseMessage(const std::string& bytes);

// Where a message stands and what its file tells about it besides its own bytes.
struct MessagePlace {
    std::size_t index = 0;           // 0 for the first message of the file
    std::string ref;                 // "message N" in an mbox, "" for a file of its own
    std::string fallbackReceivedAt;  // the mbox "From " line's date, or a Maildir file's delivery time
    std::string damage;              // set when the message could not be read (it is then null)
};

// Calls `visit` for each message of a file: one for a single message, every one for an mbox,
// a damaged one (null, with its damage) included. `visit` returns false to stop. Returns "" or
// the reason the file could not be read (to its end).
std::string ForEachMessage(const std::string& path, bool mbox,
                           const std::function<bool(GMimeMessage*, const MessagePlace&)>& visit);

// The key under which a record counts as already known: its answers (see AnswersKey).
std::string DedupKey(const MailRecordRead& read);

// A message without a registration as the rejected list keeps it: its headers, its text parts
// (from every text-like part) and `reason`. `message` may be null for one that could not be read.
RejectedMessage RejectedFromMessage(GMimeMessage* message, const std::string& sourceFile, const MessagePlace& place,
                                    const std::string& reason);

// When the file at `path` was delivered, if it is a Maildir message (in "new" or "cur"): the
// time its name starts with, else its modification time. "" for any other file.
std::string MaildirDeliveryTime(const std::string& path);

}  // namespace desk
