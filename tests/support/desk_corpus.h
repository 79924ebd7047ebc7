// Registration mails the way mail programs send them, made with GMime: the tests of velkdesk
// and the benchmark's mbox generator build their corpus from these pieces.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "form/RegistrationRecord.h"
#include "tests/support/sample_record.h"

namespace corpus {


// Text deformations of mail programs, on UTF-8 text with CR LF or LF line ends.
std::string LfOnly(const std::string& text);
std::string Quote(const std::string& text, const std::string& mark = "> ");
// Breaks lines longer than `column` at their last blank, the blank replaced by CR LF.
std::string HardWrap(const std::string& text, std::size_t column);
// format=flowed: long lines broken after a blank (soft break), leading blanks stuffed.
std::string Flow(const std::string& text, std::size_t column);
// An HTML body: the text escaped, its lines joined with <br>.
std::string HtmlBody(const std::string& text);

enum class Transfer { SevenBit, EightBit, QuotedPrintable, Base64 };

struct Part {
    std::string text;                // UTF-8
    std::string encodeAs = "utf-8";  // the charset of the bytes sent
    std::string declared = "utf-8";  // the charset parameter ("" none)
    Transfer transfer = Transfer::QuotedPrintable;
    std::string type = "text/plain";
    std::vector<std::pair<std::string, std::string>> params;  // further Content-Type parameters
    std::string filename;            // attachment name ("" inline)
};

// A text/plain part: `text` sent in `charset` (and declared so) with `transfer`.
inline Part TextPart(const std::string& text, const std::string& charset, Transfer transfer) {
    Part p;
    p.text = text;
    p.encodeAs = p.declared = charset;
    p.transfer = transfer;
    return p;
}

struct Mail {
    std::vector<Part> parts;
    std::string multipart;  // "" for one part, else "alternative" or "mixed"
    std::string messageId;  // "" for none
    bool crlf = true;
    std::string forwardedMessage;  // a whole message attached as message/rfc822 after the parts
};

// The message as bytes.
std::string BuildMessage(const Mail& mail);
// The message as an mbox entry, with its "From " line.
std::string MboxEntry(const std::string& message);

}  // namespace corpus
