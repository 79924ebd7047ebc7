// Fuzzes the desk's mail intake: the mbox reader splits arbitrary bytes into messages, GMime
// parses the bytes (and each message) as a message, and whatever registrations come out hold
// valid UTF-8 and a dedup key; a message without one makes a rejected entry.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "desk/mail/MailIntake.h"
#include "desk/mail/Mbox.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void Intake(GMimeMessage* message) {
    for (const desk::Registration& r : desk::RegistrationsFromMessage(message, "fuzz.eml", "")) {
        Check(!r.dedupKey.empty() && r.channel == "mail");
        for (const MailElement& e : kMailElements) Check(IsValidUtf8(r.record.*e.field));
    }
    const desk::RejectedMessage rejected = desk::RejectedFromMessage(message, "fuzz.mbox", {}, "none");
    Check(!rejected.dedupKey.empty() && IsValidUtf8(rejected.sender) && IsValidUtf8(rejected.subject));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static desk::CGMimeLibrary* gmime = new desk::CGMimeLibrary;  // once, for the whole run
    (void)gmime;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const desk::CGObject<GMimeMessage> message = desk::ParseMessage(bytes);
    if (message) Intake(message.Get());
    // As an mbox, with a cap small enough that inputs reach it.
    constexpr std::size_t kCap = 4096;
    desk::CMboxReader reader(bytes, kCap);
    std::size_t total = 0;
    for (desk::MboxMessage entry; reader.Next(entry);) {
        Check(entry.bytes.size() <= kCap && (entry.damage.empty() || entry.bytes.empty()));
        Check(entry.offset < size && ++total <= size);
        if (!entry.damage.empty()) continue;
        const desk::CGObject<GMimeMessage> inner = desk::ParseMessage(entry.bytes);
        if (inner) Intake(inner.Get());
    }
    return 0;
}
