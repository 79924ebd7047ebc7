// Takes mail apart with GMime and hands the text parts to the platform-free record reader.
#include "desk/MailIntake.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "desk/InputFile.h"
#include "output/MailText.h"

namespace desk {

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

struct TextLeaf {
    GMimePart* part;  // borrowed from the message, which outlives the leaf list
    bool html;
};

void CollectTextLeaves(GMimeObject* object, std::vector<TextLeaf>& leaves, int depth) {
    if (!object || depth > 32) return;  // a message nested deeper than any mail program makes
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart* multipart = GMIME_MULTIPART(object);
        const int count = g_mime_multipart_get_count(multipart);
        for (int i = 0; i < count; ++i) CollectTextLeaves(g_mime_multipart_get_part(multipart, i), leaves, depth + 1);
    } else if (GMIME_IS_MESSAGE_PART(object)) {
        GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
        if (inner) CollectTextLeaves(g_mime_message_get_mime_part(inner), leaves, depth + 1);
    } else if (GMIME_IS_PART(object)) {
        GMimeContentType* type = g_mime_object_get_content_type(object);
        if (!type || !g_mime_content_type_is_type(type, "text", "*")) return;
        const bool html = g_mime_content_type_is_type(type, "text", "html");
        if (html || g_mime_content_type_is_type(type, "text", "plain")) leaves.push_back({GMIME_PART(object), html});
    }
}

// The part's content with the transfer encoding undone.
std::string DecodedBytes(GMimePart* part) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content) return "";
    CGObject<GMimeStream> memory = CGObject<GMimeStream>::Adopt(g_mime_stream_mem_new());
    if (g_mime_data_wrapper_write_to_stream(content, memory.Get()) < 0) return "";
    GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory.Get()));
    return std::string(reinterpret_cast<const char*>(array->data), array->len);
}

// Undeclared or wrongly declared text: valid UTF-8 is UTF-8, anything else Windows-1252.
std::string GuessUtf8(const std::string& bytes) {
    return IsValidUtf8(bytes) ? bytes : Windows1252ToUtf8(bytes);
}

std::string ToUtf8(const std::string& bytes, const char* declared, std::vector<std::string>& notes) {
    const std::string charset = Lower(declared ? declared : "");
    if (charset.empty() || charset == "us-ascii" || charset == "ascii") return GuessUtf8(bytes);
    if (charset == "utf-8" || charset == "utf8") {
        if (IsValidUtf8(bytes)) return bytes;
        notes.push_back("mail: text is not the UTF-8 it declares, read as Windows-1252");
        return Windows1252ToUtf8(bytes);
    }
    // ISO 8859-1 labels cover Windows-1252 in practice: mail programs send its extra characters
    // (euro sign, typographic quotes) under that name.
    if (charset == "iso-8859-1" || charset == "iso8859-1" || charset == "latin1" || charset == "windows-1252" ||
        charset == "cp1252" || charset == "x-cp1252")
        return Windows1252ToUtf8(bytes);
    gsize written = 0;
    GError* error = nullptr;
    gchar* converted = g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8",
                                 g_mime_charset_iconv_name(declared), nullptr, &written, &error);
    if (!converted) {
        g_clear_error(&error);
        notes.push_back("mail: text not readable as its charset, read as Windows-1252");
        return GuessUtf8(bytes);
    }
    std::string text(converted, written);
    g_free(converted);
    return text;
}

std::string LeafText(const TextLeaf& leaf, std::vector<std::string>& notes) {
    GMimeObject* object = GMIME_OBJECT(leaf.part);
    std::string bytes = DecodedBytes(leaf.part);
    // The reader looks at the first MiB of a text only; a larger part is cut before the charset
    // and layout repairs, which would otherwise work through all of it.
    if (bytes.size() > kMailRecordMaxText) {
        // At a line end, so no character of a multibyte charset is cut in two.
        const std::size_t lineEnd = bytes.rfind('\n', kMailRecordMaxText - 1);
        bytes.resize(lineEnd == std::string::npos ? kMailRecordMaxText : lineEnd + 1);
        notes.push_back("mail: text part larger than 1 MiB, only its first MiB read");
    }
    std::string text = ToUtf8(bytes, g_mime_object_get_content_type_parameter(object, "charset"), notes);
    if (leaf.html) return HtmlToText(text);
    const char* format = g_mime_object_get_content_type_parameter(object, "format");
    if (format && Lower(format) == "flowed") {
        const char* delsp = g_mime_object_get_content_type_parameter(object, "delsp");
        text = UnflowText(text, delsp && Lower(delsp) == "yes");
    }
    return text;
}

std::string ReceivedAt(GMimeMessage* message) {
    GDateTime* date = g_mime_message_get_date(message);
    if (!date) return "";
    GDateTime* utc = g_date_time_to_utc(date);
    if (!utc) return "";
    gchar* text = g_date_time_format(utc, "%Y-%m-%dT%H:%M:%SZ");
    g_date_time_unref(utc);
    std::string result = text ? text : "";
    g_free(text);
    return result;
}

std::string Sha256(const std::string& bytes) {
    gchar* hex = g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    std::string result = hex;
    g_free(hex);
    return result;
}

}  // namespace

CGMimeLibrary::CGMimeLibrary() {
    g_mime_init();
}

CGMimeLibrary::~CGMimeLibrary() {
    g_mime_shutdown();
}

std::string DedupKey(const std::string& messageId, const MailRecordRead& read) {
    // The content in its canonical form, so a re-encoded or re-wrapped copy gets the same key.
    std::string content = BuildMailText(read.record);
    for (const std::string& problem : read.problems) content += problem + "\n";
    return (messageId.empty() ? "record:" : "message:" + messageId + "/") + Sha256(content);
}

std::vector<Registration> RegistrationsFromMessage(GMimeMessage* message, const std::string& sourceFile,
                                                   const std::string& fallbackRef, std::string* refusal) {
    std::vector<TextLeaf> leaves;
    CollectTextLeaves(g_mime_message_get_mime_part(message), leaves, 0);
    // Plain text first: an HTML alternative holds the same record once more.
    std::vector<MailRecordRead> found;
    std::vector<std::string> notes;
    for (bool html : {false, true}) {
        for (const TextLeaf& leaf : leaves) {
            if (leaf.html != html) continue;
            std::vector<std::string> leafNotes;
            std::vector<MailRecordRead> records = ReadMailRecords(LeafText(leaf, leafNotes));
            if (records.empty()) continue;
            notes.insert(notes.end(), leafNotes.begin(), leafNotes.end());
            for (MailRecordRead& record : records) found.push_back(std::move(record));
        }
        if (!found.empty()) break;
    }
    std::vector<Registration> registrations;
    const char* id = g_mime_message_get_message_id(message);
    const std::string messageId = id ? id : "";
    const std::string receivedAt = ReceivedAt(message);
    for (MailRecordRead& read : found) {
        const std::string key = DedupKey(messageId, read);
        // The same record twice in one message (body and attached copy) is one registration.
        bool repeated = false;
        for (const Registration& earlier : registrations) repeated = repeated || earlier.dedupKey == key;
        if (repeated) continue;
        Registration r;
        r.record = std::move(read.record);
        r.channel = "mail";
        r.sourceFile = sourceFile;
        r.sourceRef = messageId.empty() ? fallbackRef : "<" + messageId + ">";
        r.receivedAt = receivedAt;
        r.dedupKey = key;
        r.reviewReasons = std::move(read.problems);
        r.reviewReasons.insert(r.reviewReasons.end(), notes.begin(), notes.end());
        registrations.push_back(std::move(r));
        if (registrations.size() > kMaxRecordsPerMessage) {
            if (refusal) *refusal = "holds more than " + std::to_string(kMaxRecordsPerMessage) + " records, refused whole";
            return {};
        }
    }
    return registrations;
}

CGObject<GMimeMessage> ParseMessage(const std::string& bytes) {
    CGObject<GMimeStream> stream = CGObject<GMimeStream>::Adopt(
        g_mime_stream_mem_new_with_buffer(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    CGObject<GMimeParser> parser = CGObject<GMimeParser>::Adopt(g_mime_parser_new_with_stream(stream.Get()));
    return CGObject<GMimeMessage>::Adopt(g_mime_parser_construct_message(parser.Get(), nullptr));
}

std::string ForEachMessage(const std::string& path, bool mbox,
                           const std::function<bool(GMimeMessage*, std::size_t index)>& visit) {
    std::string error;
    const int fd = OpenRegularFile(path, error);
    if (fd < 0) return error;
    // The stream owns the descriptor from here on and reads the file in blocks, so an mbox
    // of any size needs the memory of one message at a time.
    CGObject<GMimeStream> stream = CGObject<GMimeStream>::Adopt(g_mime_stream_fs_new(fd));
    CGObject<GMimeParser> parser = CGObject<GMimeParser>::Adopt(g_mime_parser_new_with_stream(stream.Get()));
    g_mime_parser_set_format(parser.Get(), mbox ? GMIME_FORMAT_MBOX : GMIME_FORMAT_MESSAGE);
    // Parts are copied out of the file, not read back from it later.
    g_mime_parser_set_persist_stream(parser.Get(), FALSE);
    std::size_t index = 0;
    while (!g_mime_parser_eos(parser.Get())) {
        CGObject<GMimeMessage> message = CGObject<GMimeMessage>::Adopt(g_mime_parser_construct_message(parser.Get(), nullptr));
        if (!message) {
            if (index == 0) return mbox ? "no message in the mbox" : "not a mail message";
            // What follows cannot be read; the messages before it stand.
            if (!g_mime_parser_eos(parser.Get())) return "cannot be read after message " + std::to_string(index);
            break;
        }
        if (!visit(message.Get(), index++)) break;
        if (!mbox) break;
    }
    return "";
}

}  // namespace desk
