// `velkdesk export`, `list` and `show`: the database as CSV or XLSX for a spreadsheet and as text.
#pragma once

#include <ostream>
#include <string>

#include "desk/Database.h"

namespace desk {

struct ExportOptions {
    bool withPasswords = false;
    char separator = ';';      // what German spreadsheets split on when they open a .csv
    bool formulaGuard = true;  // CSV only: the apostrophe before a value a spreadsheet would run
};

// One header row, then one row per registration: id, channel, source, received, imported,
// review, and the 26 fields (without the two password columns unless asked for). UTF-8 with a
// byte-order mark and CR LF, so spreadsheets show umlauts as they are. A value that a
// spreadsheet would take for a formula gets a leading apostrophe unless `formulaGuard` is off.
void ExportCsv(CDatabase& db, const ExportOptions& options, std::ostream& out);

// The same columns and rows as one worksheet of an XLSX file at `path`, every cell a text cell
// holding the value as stored: nothing altered, nothing a spreadsheet runs. Returns "" or why
// the file could not be written.
std::string ExportXlsx(CDatabase& db, const ExportOptions& options, const std::string& path);

// One line per registration (or only those needing review, with their reasons).
void ListRegistrations(CDatabase& db, bool reviewOnly, std::ostream& out);

// Everything of one registration, one field a line, the further sources it came from, the
// clerks' corrections and a mail's record text; passwords masked unless asked for.
void ShowRegistration(const StoredRegistration& r, bool withPasswords, std::ostream& out,
                      const std::vector<RegistrationSource>& sources = {},
                      const std::vector<Correction>& corrections = {}, const StoredRecordText& recordText = {});

// One line per rejected message: where it is, who sent it, its subject and why it was rejected.
void ListRejected(CDatabase& db, std::ostream& out);

// One rejected message with its text; the values of password elements in it masked unless asked for.
void ShowRejected(const StoredRejected& r, bool withPasswords, std::ostream& out);

// `text` with the value of every secret element (MailElement::secret: the two passwords)
// replaced by a mask, its tags written in any case and spacing.
std::string MaskPasswords(const std::string& text);
// A registration's record text for a person who did not ask for the passwords: MaskPasswords,
// and the record's own secret values wherever else they stand.
std::string MaskSecrets(const std::string& text, const RegistrationRecord& record);

// A value as one CSV cell.
std::string CsvCell(const std::string& value, char separator);

}  // namespace desk
