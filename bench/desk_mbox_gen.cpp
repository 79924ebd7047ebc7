// Writes the benchmark's mbox of registration mails: mixed charsets, transfer encodings and
// mail-program layouts, 10% duplicates of earlier mails and 1% damaged records, and prints the
// counts `velkdesk import` must report for it.
//   desk_mbox_gen FILE COUNT [SEED]
#include <gmime/gmime.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "output/MailText.h"
#include "tests/support/desk_corpus.h"

using corpus::Mail;
using corpus::Part;
using corpus::TextPart;
using corpus::Transfer;

namespace {

// Mail `n` in one of the layouts mail programs send.
std::string MakeMail(int n, bool damaged) {
    RegistrationRecord record = corpus::SampleRecord(n, n % 3 == 0);
    if (damaged) record.password_2 += "x";
    std::string text = BuildMailText(record);
    if (damaged && n % 2) text.erase(text.find("    <zip>"), text.find("</zip>\r\n") + 8 - text.find("    <zip>"));
    Mail mail;
    mail.messageId = "reg" + std::to_string(n) + "@bench.example";
    mail.crlf = n % 2 == 0;
    const bool euro = n % 3 == 0;
    switch (n % 6) {
    case 0: mail.parts = {TextPart(text, "windows-1252", Transfer::QuotedPrintable)}; break;
    case 1: mail.parts = {TextPart(text, euro ? "iso-8859-15" : "iso-8859-1", Transfer::EightBit)}; break;
    case 2: mail.parts = {TextPart(text, "utf-8", Transfer::Base64)}; break;
    case 3: {
        Part html = TextPart(corpus::HtmlBody(text), "utf-8", Transfer::QuotedPrintable);
        html.type = "text/html";
        mail.parts = {TextPart(text, "utf-8", Transfer::QuotedPrintable), html};
        mail.multipart = "alternative";
        break;
    }
    case 4: {
        Part flowed = TextPart("Hallo,\r\n\r\n" + corpus::Flow(text, 72), "utf-8", Transfer::EightBit);
        flowed.params = {{"format", "flowed"}};
        mail.parts = {flowed};
        break;
    }
    default:
        mail.parts = {TextPart("Danke.\r\n\r\n" + corpus::Quote(corpus::HardWrap(text, 76)), "windows-1252",
                               Transfer::QuotedPrintable)};
        break;
    }
    return corpus::BuildMessage(mail);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: desk_mbox_gen FILE COUNT [SEED]\n";
        return 2;
    }
    const long count = std::atol(argv[2]);
    std::mt19937 random(argc > 3 ? static_cast<unsigned>(std::atol(argv[3])) : 14u);
    g_mime_init();
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    // Duplicates repeat one of the last few hundred mails, as a re-sent or re-fetched mail would.
    std::vector<std::string> recent;
    long added = 0, known = 0, review = 0;
    for (long i = 0; i < count; ++i) {
        const unsigned roll = random() % 100;
        std::string message;
        if (roll < 10 && !recent.empty()) {
            message = recent[random() % recent.size()];
            ++known;
        } else {
            const bool damaged = roll == 10;
            message = MakeMail(static_cast<int>(i), damaged);
            ++added;
            if (damaged) ++review;
            if (recent.size() < 256) recent.push_back(message);
            else recent[random() % recent.size()] = message;
        }
        out << corpus::MboxEntry(message);
    }
    out.close();
    g_mime_shutdown();
    if (!out) {
        std::cerr << "desk_mbox_gen: " << argv[1] << ": write failed\n";
        return 1;
    }
    std::cout << "read " << count << ", new " << added << ", already known " << known << ", needing review " << review
              << ", rejected 0\n";
    return 0;
}
