// Writes the database out as CSV and as the text of `list` and `show`.
#include "desk/Export.h"

#include <string_view>

#include "desk/Printable.h"
#include "output/MailRecord.h"

namespace desk {

namespace {

std::string JoinReasons(const std::vector<std::string>& reasons, const char* separator) {
    std::string joined;
    for (const std::string& reason : reasons) joined += (joined.empty() ? "" : separator) + reason;
    return joined;
}

// A value for one line of `list` or `show`: no control character can break the layout or
// reach the terminal.
std::string OneLine(const std::string& value) {
    return Printable(value);
}

// Digits, blanks, "/", "(", ")" and "-", with an optional leading "+": a telephone number as
// people write it, which a spreadsheet shows as typed (at worst as a sum of its digits).
bool PlainPhoneNumber(const std::string& value) {
    bool digit = false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c >= '0' && c <= '9') digit = true;
        else if (!(c == ' ' || c == '/' || c == '(' || c == ')' || c == '-' || (c == '+' && i == 0))) return false;
    }
    return digit;
}

bool IsSecret(const std::string& field) {
    for (const MailElement& element : kMailElements)
        if (field == element.name) return element.secret;
    return false;
}

}  // namespace

std::string CsvCell(const std::string& value, char separator) {
    std::string cell = value;
    // A spreadsheet takes a cell that starts with one of these for a formula, whatever follows
    // ("-2+3+cmd|..." as much as "=cmd|..."); a leading apostrophe makes it text again.
    if (!cell.empty() && std::string_view("=+-@\t\r").find(cell[0]) != std::string_view::npos && !PlainPhoneNumber(cell)) cell.insert(0, 1, '\'');
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
        if (options.withPasswords || !element.secret) out << sep << element.name;
    out << "\r\n";
    db.ForEach(false, [&](const StoredRegistration& r) {
        out << r.id << sep << CsvCell(r.channel, sep) << sep << CsvCell(r.sourceFile, sep) << sep
            << CsvCell(r.sourceRef, sep) << sep << CsvCell(r.receivedAt, sep) << sep << CsvCell(r.importedAt, sep) << sep
            << CsvCell(JoinReasons(r.reviewReasons, "; "), sep);
        for (const MailElement& element : kMailElements)
            if (options.withPasswords || !element.secret) out << sep << CsvCell(r.record.*element.field, sep);
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

void ShowRegistration(const StoredRegistration& r, const std::vector<Correction>& corrections, bool withPasswords,
                      std::ostream& out) {
    out << "id: " << r.id << '\n'
        << "channel: " << r.channel << '\n'
        << "source: " << OneLine(r.sourceFile) << (r.sourceRef.empty() ? "" : " " + OneLine(r.sourceRef)) << '\n'
        << "received: " << (r.receivedAt.empty() ? "unknown" : r.receivedAt) << '\n'
        << "imported: " << OneLine(r.importedAt) << '\n';
    if (r.reviewReasons.empty()) out << "review: none needed\n";
    for (const std::string& reason : r.reviewReasons) out << "review: " << OneLine(reason) << '\n';
    for (const MailElement& element : kMailElements) {
        const std::string& value = r.record.*element.field;
        out << element.name << ": ";
        if (element.secret && !withPasswords) out << (value.empty() ? "" : "(hidden, --with-passwords shows it)");
        else out << OneLine(value);
        out << '\n';
    }
    for (const Correction& c : corrections) {
        const bool hide = IsSecret(c.field) && !withPasswords;
        out << "correction: " << OneLine(c.at) << ' ' << OneLine(c.clerk) << ' ' << OneLine(c.field) << ": "
            << (hide ? "(hidden)" : '"' + OneLine(c.oldValue) + '"') << " -> "
            << (hide ? "(hidden)" : '"' + OneLine(c.newValue) + '"') << '\n';
    }
}

}  // namespace desk
