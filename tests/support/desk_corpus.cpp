// Builds test mails with GMime, so their MIME structure is what a real library writes.
#include "desk_corpus.h"

#include <gmime/gmime.h>

#include <stdexcept>

#include "output/MailText.h"

namespace corpus {

namespace {

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
    return text;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::string Encode(const std::string& utf8, const std::string& charset) {
    if (charset == "utf-8") return utf8;
    gsize written = 0;
    gchar* bytes = g_convert(utf8.data(), static_cast<gssize>(utf8.size()), charset.c_str(), "UTF-8", nullptr, &written, nullptr);
    if (!bytes) throw std::runtime_error("test text not representable in " + charset);
    std::string result(bytes, written);
    g_free(bytes);
    return result;
}

GMimeContentEncoding Encoding(Transfer transfer) {
    switch (transfer) {
    case Transfer::SevenBit: return GMIME_CONTENT_ENCODING_7BIT;
    case Transfer::EightBit: return GMIME_CONTENT_ENCODING_8BIT;
    case Transfer::QuotedPrintable: return GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE;
    case Transfer::Base64: return GMIME_CONTENT_ENCODING_BASE64;
    }
    return GMIME_CONTENT_ENCODING_DEFAULT;
}

GMimeObject* MakePart(const Part& p) {
    const std::size_t slash = p.type.find('/');
    GMimePart* part = g_mime_part_new_with_type(p.type.substr(0, slash).c_str(), p.type.substr(slash + 1).c_str());
    const std::string bytes = p.type.compare(0, 5, "text/") == 0 ? Encode(p.text, p.encodeAs) : p.text;
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size());
    GMimeDataWrapper* content = g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
    g_mime_part_set_content(part, content);
    g_object_unref(content);
    g_object_unref(stream);
    g_mime_part_set_content_encoding(part, Encoding(p.transfer));
    if (!p.declared.empty()) g_mime_object_set_content_type_parameter(GMIME_OBJECT(part), "charset", p.declared.c_str());
    for (const auto& param : p.params)
        g_mime_object_set_content_type_parameter(GMIME_OBJECT(part), param.first.c_str(), param.second.c_str());
    if (!p.filename.empty()) g_mime_part_set_filename(part, p.filename.c_str());
    return GMIME_OBJECT(part);
}

}  // namespace

std::string LfOnly(const std::string& text) {
    return Replace(text, "\r\n", "\n");
}

std::string Quote(const std::string& text, const std::string& mark) {
    std::string out;
    for (const std::string& line : Lines(text)) out += mark + line + "\r\n";
    return out;
}

std::string HardWrap(const std::string& text, std::size_t column) {
    std::string out;
    for (std::string line : Lines(text)) {
        while (line.size() > column) {
            const std::size_t cut = line.rfind(' ', column);
            if (cut == std::string::npos || cut < 8) break;
            out += line.substr(0, cut) + "\r\n";
            line = line.substr(cut + 1);
        }
        out += line + "\r\n";
    }
    return out;
}

std::string Flow(const std::string& text, std::size_t column) {
    std::string out;
    for (std::string line : Lines(text)) {
        if (!line.empty() && (line[0] == ' ' || line[0] == '>' || line.compare(0, 5, "From ") == 0)) line = " " + line;
        while (line.size() > column) {
            const std::size_t cut = line.rfind(' ', column);
            if (cut == std::string::npos || cut < 8) break;
            out += line.substr(0, cut + 1) + "\r\n";  // the blank stays: a soft break
            line = line.substr(cut + 1);
        }
        out += line + "\r\n";
    }
    return out;
}

std::string HtmlBody(const std::string& text) {
    std::string escaped = Replace(Replace(Replace(text, "&", "&amp;"), "<", "&lt;"), ">", "&gt;");
    escaped = Replace(Replace(escaped, "\r\n", "<br>\r\n"), "    ", "&nbsp;&nbsp;&nbsp; ");
    return "<html><head><style>body{font-family:Arial}</style></head><body>" + escaped +
           "</body></html>\r\n";
}

std::string BuildMessage(const Mail& mail) {
    GMimeMessage* message = g_mime_message_new(TRUE);
    g_mime_message_add_mailbox(message, GMIME_ADDRESS_TYPE_FROM, "J\xC3\xBCrgen Gr\xC3\xB6\xC3\x9F" "e", "kunde@example.de");
    g_mime_message_add_mailbox(message, GMIME_ADDRESS_TYPE_TO, nullptr, "registrierung@velk.example");
    g_mime_message_set_subject(message, "Registrierung", "utf-8");
    if (!mail.messageId.empty()) g_mime_message_set_message_id(message, mail.messageId.c_str());
    GDateTime* date = g_date_time_new_utc(2026, 12, 7, 9, 30, 0);
    g_mime_message_set_date(message, date);
    g_date_time_unref(date);
    GMimeObject* body;
    if (mail.multipart.empty() && mail.forwardedMessage.empty()) {
        body = MakePart(mail.parts.at(0));
    } else {
        GMimeMultipart* multipart = g_mime_multipart_new_with_subtype(mail.multipart.empty() ? "mixed" : mail.multipart.c_str());
        for (const Part& p : mail.parts) {
            GMimeObject* part = MakePart(p);
            g_mime_multipart_add(multipart, part);
            g_object_unref(part);
        }
        if (!mail.forwardedMessage.empty()) {
            GMimeStream* stream = g_mime_stream_mem_new_with_buffer(mail.forwardedMessage.data(), mail.forwardedMessage.size());
            GMimeParser* parser = g_mime_parser_new_with_stream(stream);
            GMimeMessage* inner = g_mime_parser_construct_message(parser, nullptr);
            GMimeMessagePart* attached = g_mime_message_part_new_with_message("rfc822", inner);
            g_mime_multipart_add(multipart, GMIME_OBJECT(attached));
            g_object_unref(attached);
            g_object_unref(inner);
            g_object_unref(parser);
            g_object_unref(stream);
        }
        body = GMIME_OBJECT(multipart);
    }
    g_mime_message_set_mime_part(message, body);
    g_object_unref(body);
    GMimeFormatOptions* options = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(options, mail.crlf ? GMIME_NEWLINE_FORMAT_DOS : GMIME_NEWLINE_FORMAT_UNIX);
    char* bytes = g_mime_object_to_string(GMIME_OBJECT(message), options);
    std::string result = bytes;
    g_free(bytes);
    g_mime_format_options_free(options);
    g_object_unref(message);
    return result;
}

std::string MboxEntry(const std::string& message) {
    std::string body;
    for (const std::string& line : Lines(message)) body += (line.compare(0, 5, "From ") == 0 ? ">" : "") + line + "\n";
    return "From kunde@example.de Mon Dec  7 09:30:00 2026\n" + body + "\n";
}

}  // namespace corpus
