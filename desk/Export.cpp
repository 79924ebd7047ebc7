// Writes the database out as CSV, as XLSX (libxlsxwriter) and as the text of `list` and `show`.
#include "desk/Export.h"

#include <fcntl.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
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

// The export's columns: where each registration came from, then its fields.
std::vector<std::string> ExportHeader(const ExportOptions& options) {
    std::vector<std::string> header = {"id", "channel", "source_file", "source_ref", "received_at", "imported_at", "review"};
    for (const MailElement& element : kMailElements)
        if (options.withPasswords || !element.secret) header.push_back(element.name);
    return header;
}

bool IsSecret(const std::string& field) {
    for (const MailElement& element : kMailElements)
        if (field == element.name) return element.secret;
    return false;
}


std::vector<std::string> ExportRow(const StoredRegistration& r, const ExportOptions& options) {
    std::vector<std::string> row = {std::to_string(r.id), r.channel,    r.sourceFile, r.sourceRef,
                                    r.receivedAt,         r.importedAt, JoinReasons(r.ReviewLines(), "; ")};
    for (const MailElement& element : kMailElements)
        if (options.withPasswords || !element.secret) row.push_back(r.record.*element.field);
    return row;
}

// A value as one CSV cell without the formula guard: quoted where the separator, a quote or a
// line break would split it.
std::string CsvQuoted(const std::string& value, char separator) {
    if (value.find_first_of(std::string("\"\r\n") + separator) == std::string::npos) return value;
    std::string quoted = "\"";
    for (char c : value) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

// A value as an XLSX cell's text. The file format reads "_xHHHH_" as an escaped character
// (libxlsxwriter writes control characters so); a value's own "_xHHHH_" keeps its underscore
// by escaping it in turn, so a spreadsheet shows what was stored.
std::string XlsxText(const std::string& value) {
    std::string text;
    text.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        bool escaped = value.compare(i, 2, "_x") == 0 && i + 6 < value.size() && value[i + 6] == '_';
        for (std::size_t k = i + 2; escaped && k < i + 6; ++k) escaped = std::isxdigit(static_cast<unsigned char>(value[k]));
        text += escaped ? "_x005F_" : std::string(1, value[i]);
    }
    return text;
}

// An XLSX workbook being written, closed (and freed) on every path.
class CXlsxWorkbook : CNonCopyable {
public:
    explicit CXlsxWorkbook(const std::string& path) {
        lxw_workbook_options options = {};
        options.constant_memory = LXW_TRUE;  // rows go to a temporary file, not into memory
        workbook_ = workbook_new_opt(path.c_str(), &options);
    }
    ~CXlsxWorkbook() {
        if (workbook_) workbook_close(workbook_);
    }
    lxw_workbook* Get() const { return workbook_; }
    lxw_error Close() {
        const lxw_error error = workbook_close(workbook_);
        workbook_ = nullptr;
        return error;
    }
private:
    lxw_workbook* workbook_ = nullptr;
};

}  // namespace

std::string CsvCell(const std::string& value, char separator) {
    std::string cell = value;
    // A spreadsheet takes a cell that starts with one of these for a formula, whatever follows
    // ("-2+3+cmd|..." as much as "=cmd|..."); a leading apostrophe makes it text again.
    if (!cell.empty() && std::string_view("=+-@\t\r").find(cell[0]) != std::string_view::npos && !PlainPhoneNumber(cell))
        cell.insert(0, 1, '\'');
    return CsvQuoted(cell, separator);
}

void ExportCsv(CDatabase& db, const ExportOptions& options, std::ostream& out) {
    const char sep = options.separator;
    auto cell = [&](const std::string& value) { return options.formulaGuard ? CsvCell(value, sep) : CsvQuoted(value, sep); };
    out << "\xEF\xBB\xBF";
    const std::vector<std::string> header = ExportHeader(options);
    for (std::size_t i = 0; i < header.size(); ++i) out << (i ? std::string(1, sep) : "") << header[i];
    out << "\r\n";
    db.ForEach(false, [&](const StoredRegistration& r) {
        const std::vector<std::string> row = ExportRow(r, options);
        out << r.id;  // a number, never guarded
        for (std::size_t i = 1; i < row.size(); ++i) out << sep << cell(row[i]);
        out << "\r\n";
    });
}

std::string ExportXlsx(CDatabase& db, const ExportOptions& options, const std::string& path) {
    // libxlsxwriter opens the file only at the end and reports a failure there on standard
    // error in words of its own; a file that cannot be written is found here first instead.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    CXlsxWorkbook workbook(path);
    if (!workbook.Get()) return "cannot be written";
    lxw_worksheet* sheet = workbook_add_worksheet(workbook.Get(), "Registrierungen");
    // The text number format keeps a value typed into a cell later a text too.
    lxw_format* text = workbook_add_format(workbook.Get());
    if (!sheet || !text) return "out of memory";
    format_set_num_format(text, "@");
    std::string failure;
    lxw_row_t rowIndex = 0;
    auto writeRow = [&](const std::vector<std::string>& values) {
        for (std::size_t i = 0; i < values.size() && failure.empty(); ++i) {
            const lxw_error error =
                worksheet_write_string(sheet, rowIndex, static_cast<lxw_col_t>(i), XlsxText(values[i]).c_str(), text);
            // A value too long for a cell is no reason to cut it silently.
            if (error != LXW_NO_ERROR)
                failure = "row " + std::to_string(rowIndex + 1) + ", column " + std::to_string(i + 1) + ": " +
                          lxw_strerror(error);
        }
        ++rowIndex;
    };
    writeRow(ExportHeader(options));
    db.ForEach(false, [&](const StoredRegistration& r) {
        if (failure.empty()) writeRow(ExportRow(r, options));
    });
    if (!failure.empty()) return failure;
    const lxw_error error = workbook.Close();
    return error == LXW_NO_ERROR ? "" : lxw_strerror(error);
}

void ListRegistrations(CDatabase& db, bool reviewOnly, std::ostream& out) {
    db.ForEach(reviewOnly, [&](const StoredRegistration& r) {
        out << r.id << '\t' << (r.receivedAt.empty() ? "-" : r.receivedAt) << '\t' << r.channel << '\t'
            << OneLine(r.record.vorname + " " + r.record.nachname) << '\t' << OneLine(r.record.zip + " " + r.record.city)
            << '\t' << OneLine(r.record.gprod) << '\t'
            << (r.doubts.empty() ? "ok" : "REVIEW: " + OneLine(JoinReasons(r.ReviewLines(), "; "))) << '\n';
    });
}

void ShowRegistration(const StoredRegistration& r, bool withPasswords, std::ostream& out,
                      const std::vector<RegistrationSource>& sources, const std::vector<Correction>& corrections,
                      const StoredRecordText& recordText) {
    out << "id: " << r.id << '\n'
        << "channel: " << r.channel << '\n'
        << "source: " << OneLine(r.sourceFile) << (r.sourceRef.empty() ? "" : " " + OneLine(r.sourceRef)) << '\n'
        << "received: " << (r.receivedAt.empty() ? "unknown" : r.receivedAt) << '\n'
        << "imported: " << OneLine(r.importedAt) << '\n';
    if (r.doubts.empty()) out << "review: none needed\n";
    for (const Doubt& doubt : r.doubts) out << "review: " << OneLine(doubt.Line()) << '\n';
    for (const MailElement& element : kMailElements) {
        const std::string& value = r.record.*element.field;
        out << element.name << ": ";
        if (element.secret && !withPasswords) out << (value.empty() ? "" : "(hidden, --with-passwords shows it)");
        else out << OneLine(value);
        out << '\n';
    }
    for (const RegistrationSource& source : sources)
        out << "also from: " << OneLine(source.channel) << ' ' << OneLine(source.sourceFile)
            << (source.sourceRef.empty() ? "" : " " + OneLine(source.sourceRef)) << ", received "
            << (source.receivedAt.empty() ? "unknown" : OneLine(source.receivedAt)) << '\n';
    for (const Correction& c : corrections) {
        const bool hide = IsSecret(c.field) && !withPasswords;
        out << "correction: " << OneLine(c.at) << ' ' << OneLine(c.clerk) << ' ' << OneLine(c.field) << ": "
            << (hide ? "(hidden)" : '"' + OneLine(c.oldValue) + '"') << " -> "
            << (hide ? "(hidden)" : '"' + OneLine(c.newValue) + '"')
            << (c.doubtKind.empty() ? "" : ", settles " + OneLine(c.doubtKind) + ": " + OneLine(c.doubtMessage)) << '\n';
    }
    if (recordText.text.empty()) return;
    out << "record text";
    if (recordText.Cut())
        out << " (its first " << recordText.text.size() << " of " << recordText.size << " bytes)";
    out << ":\n";
    const std::string text = withPasswords ? recordText.text : MaskSecrets(recordText.text, r.record);
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        out << "  " << OneLine(text.substr(start, end - start)) << '\n';
        start = end + 1;
    }
}

std::string MaskPasswords(const std::string& text) {
    // Tags are matched as a person would read them, not only as the reader does: a text was
    // rejected because its record did not read, so "< PASSWORD_1 >" must be masked as well. The
    // secret elements are the element table's.
    std::string lower = text;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    auto skipBlanks = [&](std::size_t at) {
        while (at < lower.size() && (lower[at] == ' ' || lower[at] == '\t')) ++at;
        return at;
    };
    // The length of the secret element's name that stands at `at`, or 0.
    auto secretAt = [&](std::size_t at) -> std::size_t {
        for (const MailElement& element : kMailElements)
            if (element.secret && lower.compare(at, std::strlen(element.name), element.name) == 0)
                return std::strlen(element.name);
        return 0;
    };
    std::string masked;
    std::size_t copied = 0;
    for (std::size_t open = lower.find('<'); open != std::string::npos; open = lower.find('<', open + 1)) {
        const std::size_t name = skipBlanks(open + 1);
        const std::size_t length = name < copied ? 0 : secretAt(name);
        if (length == 0) continue;
        const std::size_t close = lower.find('>', name);
        if (close == std::string::npos || close - name > 64 || lower.find('\n', name) < close) continue;
        const std::size_t value = close + 1;
        // The value runs to its end tag (over a line a mail program broke), or, without one
        // before the next element, to the end of its line. Both are looked for within a window
        // larger than any password, so a hostile text cannot make this take long.
        const std::size_t window = std::min(lower.size(), value + 1024);
        std::size_t end = std::string::npos, next = std::string::npos;
        for (std::size_t at = lower.find('<', value); at < window && end == std::string::npos && next == std::string::npos;
             at = lower.find('<', at + 1)) {
            if (lower[at + 1] == '/' && lower.compare(skipBlanks(at + 2), length, lower, name, length) == 0) end = at;
            for (const MailElement& element : kMailElements)
                if (lower.compare(at + 1, std::strlen(element.name), element.name) == 0) next = at;
        }
        const std::size_t stop = end != std::string::npos ? end : std::min(lower.find('\n', value), lower.size());
        masked.append(text, copied, value - copied);
        masked += "(hidden)";
        copied = stop;
        open = std::max(open, stop > 0 ? stop - 1 : 0);
    }
    return masked + text.substr(copied);
}

namespace {

constexpr std::size_t kMaxMaskedValue = 256;

}  // namespace

std::string MaskSecrets(const std::string& text, const RegistrationRecord& record) {
    std::string masked = MaskPasswords(text);
    // A secret's value that stands outside its tags is hidden too. Values of one or two
    // characters would hide ordinary letters; one longer than any password is no password a
    // customer repeats (and looking for it in the text would take long), its tags hide it.
    for (const MailElement& element : kMailElements) {
        const std::string& value = record.*element.field;
        if (!element.secret || value.size() < 3 || value.size() > kMaxMaskedValue) continue;
        for (std::size_t at = masked.find(value); at != std::string::npos; at = masked.find(value, at + 8))
            masked.replace(at, value.size(), "(hidden)");
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
        << "imported: " << OneLine(r.importedAt) << '\n'
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
