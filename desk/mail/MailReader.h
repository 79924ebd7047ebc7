// The desk's reader of the registration record in a mail's text: finding a record in whatever
// a mail program made of the text, and the layout repairs that come before (format=flowed,
// HTML). Platform-free: bytes in, bytes out.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "desk/Doubt.h"
#include "form/RegistrationRecord.h"
#include "output/MailRecord.h"

// One record found in a text. `problems` is empty for a sound record; otherwise each names the
// element (or "new" and "version" for the record's frame) and what is wrong with it, and the
// record holds only what stood in the text (nothing guessed). The password values never appear
// in a problem.
struct MailRecordRead {
    RegistrationRecord record;
    std::vector<desk::Doubt> problems;
    std::string text;  // the record's lines as found (after quote marks), LF-separated
    // The record's lines exactly as they stand in the text, from its first line to its last:
    // quote marks, indentation and a mail program's wrapping kept, LF-separated.
    std::string original;
};

// What one text may hold for the reader: a registration takes about 2 KB, a mail with quoted
// history a few hundred; the rest of a larger text is not searched.
constexpr std::size_t kMailRecordMaxText = 1u << 20;

// Finds every record in `text` (its first kMailRecordMaxText bytes), in order. The record is found by its fixed structure wherever
// it stands: after or among other text, behind "> " quote marks, with CR LF, LF or CR line ends,
// with blanks or no-break spaces as indentation, and with value lines that a mail program
// hard-wrapped (joined again with one blank at each break). A value is taken verbatim between
// its start tag and the last matching end tag. Returns nothing when the text holds no record.
std::vector<MailRecordRead> ReadMailRecords(const std::string& text);

// Undoes format=flowed (RFC 3676): soft line breaks (a line ending in a blank) are joined with
// the next line of the same quote depth, space-stuffing is removed; with `delsp` the blank
// before a soft break goes too. Lines come back LF-separated.
std::string UnflowText(const std::string& text, bool delsp);

// The text of an HTML body: tags dropped, <br>, </p>, </div> and </tr> as line breaks,
// character references decoded (as UTF-8), so a record pasted into an HTML mail reads as text.
std::string HtmlToText(const std::string& html);
