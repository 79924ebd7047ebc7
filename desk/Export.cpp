// Writes the database out as CSV and as the text of `list` and `show`.
#include "desk/Export.h"

#include <algorithm>

#include "output/MailRecord.h"

namespace desk {

namespace {

bool IsPassword(const MailElement& element) {
    return element.field == &RegistrationRecord::password_1 || element.field == &RegistrationRecord::password_2;
}

std::string JoinReasons(const std::vector<std::string>& reasons, const char* separator) {
    std::string joined;
    for (const std::string& reason : reasons) joined += (joined.empty() ? "" : separator) + reason;
    return joined;
}

// Replaces control characters, so a value cannot break the one-line layout of `list`.
std::string OneLine(const std::string& value) {
    std::string out;
    for (char c : value) out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? ' ' : c;
    return out;
}

}  // namespace

std::string CsvCell(const std::string& value, char separator) {
    std::string cell = value;
    // "=", "@", and "+" or "-" before something other than a digit start a formula.
    if (!cell.empty()) {
        const char first = cell[0];
        const char second = cell.size() > 1 ? cell[1] : '\0';
        const bool sign = (first == '+' || first == '-') && !(second >= '0' && second <= '9') && second != ' ' &&
                          second != '\0';
        if (first == '=' || first == '@' || first == '\t' || first == '\r' || sign) cell.insert(0, 1, '\'');
    }
    if (cell.find_first_of(std::string("\"\r\n") + separator) == std::string::npos) return cell;
    std::string quoted = "\"";
    for (char c : cell) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

void ExportCsv(CDatabase& db, const ExportOptions& options, std::ostream& out) {
    const char sep = options.separator;
    out << "\xEF\xBB\xBF";
    out << "id" << sep << "channel" << sep << "source_file" << sep << "source_ref" << sep << "received_at" << sep
        << "imported_at" << sep << "review";
    for (const MailElement& element : kMailElements)
        if (options.withPasswords || !IsPassword(element)) out << sep << element.name;
    out << "\r\n";
    db.ForEach(false, [&](const StoredRegistration& r) {
        out << r.id << sep << CsvCell(r.channel, sep) << sep << CsvCell(r.sourceFile, sep) << sep
            << CsvCell(r.sourceRef, sep) << sep << CsvCell(r.receivedAt, sep) << sep << CsvCell(r.importedAt, sep) << sep
            << CsvCell(JoinReasons(r.reviewReasons, "; "), sep);
        for (const MailElement& element : kMailElements)
            if (options.withPasswords || !IsPassword(element)) out << sep << CsvCell(r.record.*element.field, sep);
        out << "\r\n";
    });
}

void ListRegistrations(CDatabase& db, bool reviewOnly, std::ostream& out) {
    db.ForEach(reviewOnly, [&](const StoredRegistration& r) {
        out << r.id << '\t' << (r.receivedAt.empty() ? "-" : r.receivedAt) << '\t' << r.channel << '\t'
            << OneLine(r.record.vorname + " " + r.record.nachname) << '\t' << OneLine(r.record.zip + " " + r.record.city)
            << '\t' << OneLine(r.record.gprod) << '\t'
            << (r.reviewReasons.empty() ? "ok" : "REVIEW: " + OneLine(JoinReasons(r.reviewReasons, "; "))) << '\n';
    });
}

void ShowRegistration(const StoredRegistration& r, bool withPasswords, std::ostream& out,
                      const std::vector<RegistrationSource>& sources) {
    out << "id: " << r.id << '\n'
        << "channel: " << r.channel << '\n'
        << "source: " << OneLine(r.sourceFile) << (r.sourceRef.empty() ? "" : " " + OneLine(r.sourceRef)) << '\n'
        << "received: " << (r.receivedAt.empty() ? "unknown" : r.receivedAt) << '\n'
        << "imported: " << r.importedAt << '\n';
    if (r.reviewReasons.empty()) out << "review: none needed\n";
    for (const std::string& reason : r.reviewReasons) out << "review: " << OneLine(reason) << '\n';
    for (const MailElement& element : kMailElements) {
        const std::string& value = r.record.*element.field;
        out << element.name << ": ";
        if (IsPassword(element) && !withPasswords) out << (value.empty() ? "" : "(hidden, --with-passwords shows it)");
        else out << OneLine(value);
        out << '\n';
    }
    for (const RegistrationSource& source : sources)
        out << "also from: " << OneLine(source.channel) << ' ' << OneLine(source.sourceFile)
            << (source.sourceRef.empty() ? "" : " " + OneLine(source.sourceRef)) << ", received "
            << (source.receivedAt.empty() ? "unknown" : OneLine(source.receivedAt)) << '\n';
}

std::string MaskPasswords(const std::string& text) {
    std::string masked = text;
    for (const char* name : {"password_1", "password_2"}) {
        const std::string open = std::string("<") + name + ">";
        const std::string close = std::string("</") + name + ">";
        for (std::size_t at = masked.find(open); at != std::string::npos; at = masked.find(open, at)) {
            at += open.size();
            // The value runs to its end tag (over a line a mail program broke), or, without one
            // before the next element, to the end of its line.
            const std::size_t end = masked.find(close, at);
            std::size_t next = std::string::npos;
            for (const MailElement& element : kMailElements)
                next = std::min(next, masked.find(std::string("<") + element.name + ">", at));
            std::size_t stop = end;
            if (end == std::string::npos || (next != std::string::npos && next < end)) {
                stop = masked.find('\n', at);
                if (stop == std::string::npos) stop = masked.size();
            }
            masked.replace(at, stop - at, "(hidden)");
            at += 8;
        }
    }
    return masked;
}

void ListRejected(CDatabase& db, std::ostream& out) {
    db.ForEachRejected([&](const StoredRejected& r) {
        out << r.id << '\t' << (r.receivedAt.empty() ? "-" : OneLine(r.receivedAt)) << '\t' << OneLine(r.sourceFile)
            << (r.sourceRef.empty() ? "" : " " + OneLine(r.sourceRef)) << '\t'
            << (r.sender.empty() ? "-" : OneLine(r.sender)) << '\t' << (r.subject.empty() ? "-" : OneLine(r.subject))
            << "\tREJECTED: " << OneLine(r.reason) << '\n';
    });
}

void ShowRejected(const StoredRejected& r, bool withPasswords, std::ostream& out) {
    out << "rejected: " << r.id << '\n'
        << "source: " << OneLine(r.sourceFile) << (r.sourceRef.empty() ? "" : " " + OneLine(r.sourceRef)) << '\n'
        << "message-id: " << (r.messageId.empty() ? "none" : "<" + OneLine(r.messageId) + ">") << '\n'
        << "from: " << OneLine(r.sender) << '\n'
        << "subject: " << OneLine(r.subject) << '\n'
        << "received: " << (r.receivedAt.empty() ? "unknown" : OneLine(r.receivedAt)) << '\n'
        << "imported: " << r.importedAt << '\n'
        << "reason: " << OneLine(r.reason) << '\n'
        << "text:" << (r.text.empty() ? " none" : "") << '\n';
    const std::string text = withPasswords ? r.text : MaskPasswords(r.text);
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        out << "  " << OneLine(text.substr(start, end - start)) << '\n';
        start = end + 1;
    }
}

}  // namespace desk
