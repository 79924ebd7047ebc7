// Takes mail apart with GMime and hands the text parts to the platform-free record reader.
#include "desk/mail/MailIntake.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "desk/InputFile.h"
#include "desk/mail/Mbox.h"
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
    bool octets;      // an application/octet-stream attachment, read when it decodes to text
};

// Attachments larger than this are no pasted record.
constexpr std::size_t kMaxOctetText = 1u << 20;

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
        if (!type) return;
        // Some mail programs send a text they could not type as application/octet-stream.
        if (g_mime_content_type_is_type(type, "application", "octet-stream")) leaves.push_back({GMIME_PART(object), false, true});
        if (!g_mime_content_type_is_type(type, "text", "*")) return;
        // Any other text (text/x-log, text/enriched, an attached .txt under a made-up type) is
        // read as plain text: a record pasted into it is still a record.
        leaves.push_back({GMIME_PART(object), g_mime_content_type_is_type(type, "text", "html") != FALSE, false});
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

// A doubt about the mail as a whole rather than one of its fields.
Doubt MailNote(DoubtKind kind, const char* message) {
    Doubt doubt;
    doubt.field = "mail";
    doubt.kind = kind;
    doubt.message = message;
    return doubt;
}

std::string ToUtf8(const std::string& bytes, const char* declared, std::vector<Doubt>& notes) {
    const std::string charset = Lower(declared ? declared : "");
    if (charset.empty() || charset == "us-ascii" || charset == "ascii") return GuessUtf8(bytes);
    if (charset == "utf-8" || charset == "utf8") {
        if (IsValidUtf8(bytes)) return bytes;
        notes.push_back(MailNote(DoubtKind::Charset, "text is not the UTF-8 it declares, read as Windows-1252"));
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
        notes.push_back(MailNote(DoubtKind::Charset, "text not readable as its charset, read as Windows-1252"));
        return GuessUtf8(bytes);
    }
    std::string text(converted, written);
    g_free(converted);
    return text;
}

// Bytes a person would read as text: no NUL, few control characters other than line ends and tabs.
bool LooksLikeText(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > kMaxOctetText) return false;
    std::size_t controls = 0;
    for (char c : bytes) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u == 0) return false;
        if ((u < 0x20 && u != '\n' && u != '\r' && u != '\t' && u != '\f') || u == 0x7F) ++controls;
    }
    return controls * 100 <= bytes.size();
}

std::string LeafText(const TextLeaf& leaf, std::vector<Doubt>& notes) {
    GMimeObject* object = GMIME_OBJECT(leaf.part);
    std::string bytes = DecodedBytes(leaf.part);
    if (leaf.octets && !LooksLikeText(bytes)) return "";
    // The reader looks at the first MiB of a text only; a larger part is cut before the charset
    // and layout repairs, which would otherwise work through all of it.
    if (bytes.size() > kMailRecordMaxText) {
        // At a line end, so no character of a multibyte charset is cut in two.
        const std::size_t lineEnd = bytes.rfind('\n', kMailRecordMaxText - 1);
        bytes.resize(lineEnd == std::string::npos ? kMailRecordMaxText : lineEnd + 1);
        notes.push_back(MailNote(DoubtKind::Structure, "text part larger than 1 MiB, only its first MiB read"));
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

// A time as the database keeps it: ISO 8601 in UTC. Takes the reference it is given.
std::string IsoUtc(GDateTime* time) {
    if (!time) return "";
    gchar* text = g_date_time_format(time, "%Y-%m-%dT%H:%M:%SZ");
    g_date_time_unref(time);
    std::string result = text ? text : "";
    g_free(text);
    return result;
}

std::string ReceivedAt(GMimeMessage* message) {
    GDateTime* date = g_mime_message_get_date(message);
    return date ? IsoUtc(g_date_time_to_utc(date)) : "";
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

std::string DedupKey(const MailRecordRead& read) {
    // The answers as read, so a re-encoded, re-wrapped, forwarded or quoted copy gets the same key.
    return AnswersKey(read.record);
}

std::vector<Registration> RegistrationsFromMessage(GMimeMessage* message, const std::string& sourceFile,
                                                   const std::string& fallbackRef, std::string* refusal) {
    std::vector<TextLeaf> leaves;
    CollectTextLeaves(g_mime_message_get_mime_part(message), leaves, 0);
    // Plain text first: an HTML alternative holds the same record once more.
    std::vector<MailRecordRead> found;
    std::vector<Doubt> notes;
    for (bool html : {false, true}) {
        for (const TextLeaf& leaf : leaves) {
            if (leaf.html != html) continue;
            std::vector<Doubt> leafNotes;
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
        const std::string key = DedupKey(read);
        // The same record twice in one message (body and attached copy) is one registration.
        bool repeated = false;
        for (const Registration& earlier : registrations) repeated = repeated || earlier.dedupKey == key;
        if (repeated) continue;
        Registration r;
        r.record = std::move(read.record);
        r.recordText = std::move(read.original);
        r.channel = "mail";
        r.sourceFile = sourceFile;
        r.sourceRef = messageId.empty() ? fallbackRef : "<" + messageId + ">";
        r.messageId = messageId;
        r.receivedAt = receivedAt;
        r.dedupKey = key;
        r.doubts = std::move(read.problems);
        r.doubts.insert(r.doubts.end(), notes.begin(), notes.end());
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
                           const std::function<bool(GMimeMessage*, const MessagePlace&)>& visit) {
    std::string error;
    const int fd = OpenRegularFile(path, error);
    if (fd < 0) return error;
    if (mbox) {
        // The reader owns the descriptor and holds one message at a time, however large the file.
        CMboxReader reader(fd);
        MboxMessage entry;
        std::size_t count = 0;
        while (reader.Next(entry)) {
            ++count;
            MessagePlace place;
            place.index = entry.number - 1;
            place.ref = "message " + std::to_string(entry.number);
            place.fallbackReceivedAt = entry.fromLineDate;
            place.damage = entry.damage;
            CGObject<GMimeMessage> message;
            if (place.damage.empty()) {
                message = ParseMessage(entry.bytes);
                if (!message) place.damage = "not a mail message";
            }
            if (!visit(message.Get(), place)) return "";
        }
        if (!reader.Error().empty()) return reader.Error();
        return count == 0 ? "no message in the mbox" : "";
    }
    // The stream owns the descriptor from here on and reads the file in blocks.
    CGObject<GMimeStream> stream = CGObject<GMimeStream>::Adopt(g_mime_stream_fs_new(fd));
    CGObject<GMimeParser> parser = CGObject<GMimeParser>::Adopt(g_mime_parser_new_with_stream(stream.Get()));
    g_mime_parser_set_format(parser.Get(), GMIME_FORMAT_MESSAGE);
    // Parts are copied out of the file, not read back from it later.
    g_mime_parser_set_persist_stream(parser.Get(), FALSE);
    CGObject<GMimeMessage> message = CGObject<GMimeMessage>::Adopt(g_mime_parser_construct_message(parser.Get(), nullptr));
    if (!message) return "not a mail message";
    MessagePlace place;
    place.fallbackReceivedAt = MaildirDeliveryTime(path);
    visit(message.Get(), place);
    return "";
}

RejectedMessage RejectedFromMessage(GMimeMessage* message, const std::string& sourceFile, const MessagePlace& place,
                                    const std::string& reason) {
    RejectedMessage m;
    m.sourceFile = sourceFile;
    m.sourceRef = place.ref;
    m.reason = reason;
    m.receivedAt = place.fallbackReceivedAt;
    if (!message) {
        m.dedupKey = "damaged:" + Sha256(sourceFile + '\n' + place.ref + '\n' + reason);
        return m;
    }
    // Header values are shown and stored as one line of UTF-8, and short.
    auto header = [](const char* value) {
        std::string text = GuessUtf8(value ? value : "");
        for (char& c : text)
            if (c == '\r' || c == '\n' || c == '\t') c = ' ';
        return text.size() > 998 ? text.substr(0, 998) : text;
    };
    const char* id = g_mime_message_get_message_id(message);
    m.messageId = header(id);
    InternetAddressList* from = g_mime_message_get_from(message);
    if (from) {
        gchar* sender = internet_address_list_to_string(from, nullptr, FALSE);
        m.sender = header(sender);
        g_free(sender);
    }
    m.subject = header(g_mime_message_get_subject(message));
    const std::string date = ReceivedAt(message);
    if (!date.empty()) m.receivedAt = date;
    std::vector<TextLeaf> leaves;
    CollectTextLeaves(g_mime_message_get_mime_part(message), leaves, 0);
    std::vector<Doubt> notes;
    for (const TextLeaf& leaf : leaves) {
        if (m.text.size() >= kMaxRejectedText) break;
        const std::string text = LeafText(leaf, notes);
        if (text.empty()) continue;
        if (!m.text.empty()) m.text += "\n-- \n";
        m.text += text;
    }
    m.dedupKey = "message:" + Sha256(m.messageId + '\n' + m.sender + '\n' + m.subject + '\n' + m.text);
    return m;
}

std::string MaildirDeliveryTime(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash < 4) return "";
    const std::string folder = path.substr(slash - 4, 4);
    if (folder != "/new" && folder != "/cur") return "";
    // A Maildir name starts with the delivery's seconds since 1970 ("1765000000.M1P2.host").
    const std::string name = path.substr(slash + 1);
    std::size_t digits = 0;
    while (digits < name.size() && digits < 12 && name[digits] >= '0' && name[digits] <= '9') ++digits;
    gint64 seconds = -1;
    if (digits >= 9 && digits < name.size() && name[digits] == '.') seconds = std::stoll(name.substr(0, digits));
    struct stat st {};
    if (seconds < 0 && ::stat(path.c_str(), &st) == 0) seconds = st.st_mtime;
    if (seconds < 0) return "";
    return IsoUtc(g_date_time_new_from_unix_utc(seconds));
}

}  // namespace desk
