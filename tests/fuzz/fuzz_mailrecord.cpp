// Fuzzes the record reader and the text repairs in front of it: any text is read without
// fault, the repairs keep UTF-8 valid, and a record built from arbitrary values without line
// breaks reads back unchanged and sound.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "desk/mail/MailReader.h"
#include "output/MailText.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    for (const MailRecordRead& read : ReadMailRecords(input)) {
        for (const desk::Doubt& problem : read.problems) Check(problem.Line().find('\n') == std::string::npos);
    }
    const std::string utf8 = Windows1252ToUtf8(input);
    Check(IsValidUtf8(utf8));
    if (IsValidUtf8(input)) {
        Check(IsValidUtf8(HtmlToText(input)));
        Check(IsValidUtf8(UnflowText(input, size % 2 == 0)));
    }
    ReadMailRecords(HtmlToText(input));
    ReadMailRecords(UnflowText(input, true));

    // The input as 26 values, split at 0xFF; line breaks cannot stand in a value of the form.
    RegistrationRecord record;
    std::size_t index = 0;
    for (char c : input) {
        if (static_cast<unsigned char>(c) == 0xFF) {
            if (++index == kMailElementCount) break;
            continue;
        }
        if (c == '\r' || c == '\n') continue;
        record.*kMailElements[index].field += c;
    }
    record.password_2 = record.password_1;
    const std::vector<MailRecordRead> back = ReadMailRecords(BuildMailText(record));
    Check(back.size() == 1 && back[0].problems.empty());
    for (const MailElement& e : kMailElements) Check(back[0].record.*e.field == record.*e.field);
    return 0;
}
