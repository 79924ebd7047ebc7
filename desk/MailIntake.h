// Reading registration records out of mail messages with GMime: the text parts in their
// charsets and transfer encodings, HTML bodies, format=flowed, forwarded messages.
#pragma once

#include <gmime/gmime.h>

#include <functional>
#include <string>
#include <vector>

#include "desk/Database.h"
#include "output/MailRecord.h"

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

// Calls `visit` for each message of a file: one for a single message, every one for an mbox.
// `visit` returns false to stop. Returns "" or the reason the file could not be read.
std::string ForEachMessage(const std::string& path, bool mbox,
                           const std::function<bool(GMimeMessage*, std::size_t index)>& visit);

// The key under which a record counts as already known: the Message-ID with the record's
// content, or the content alone when the message has none.
std::string DedupKey(const std::string& messageId, const MailRecordRead& read);

}  // namespace desk
