// Fuzzes the desk's mail intake: GMime parses arbitrary bytes as a message, and whatever
// registrations come out hold valid UTF-8 and a dedup key.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "desk/MailIntake.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static desk::CGMimeLibrary* gmime = new desk::CGMimeLibrary;  // once, for the whole run
    (void)gmime;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const desk::CGObject<GMimeMessage> message = desk::ParseMessage(bytes);
    if (!message) return 0;
    for (const desk::Registration& r : desk::RegistrationsFromMessage(message.Get(), "fuzz.eml", "")) {
        Check(!r.dedupKey.empty() && r.channel == "mail");
        for (const MailElement& e : kMailElements) Check(IsValidUtf8(r.record.*e.field));
    }
    return 0;
}
