// `velkdesk export`, `list` and `show`: the database as CSV for a spreadsheet and as text.
#pragma once

#include <ostream>
#include <string>

#include "desk/Database.h"

namespace desk {

struct ExportOptions {
    bool withPasswords = false;
    char separator = ';';  // what German spreadsheets split on when they open a .csv
};

// One header row, then one row per registration: id, channel, source, received, imported,
// review, and the 26 fields (without the two password columns unless asked for). UTF-8 with a
// byte-order mark and CR LF, so spreadsheets show umlauts as they are. A value that a
// spreadsheet would take for a formula gets a leading apostrophe.
void ExportCsv(CDatabase& db, const ExportOptions& options, std::ostream& out);

// One line per registration (or only those needing review, with their reasons).
void ListRegistrations(CDatabase& db, bool reviewOnly, std::ostream& out);

// Everything of one registration, one field a line, then the clerks' corrections; passwords
// masked unless asked for.
void ShowRegistration(const StoredRegistration& r, const std::vector<Correction>& corrections, bool withPasswords,
                      std::ostream& out);
inline void ShowRegistration(const StoredRegistration& r, bool withPasswords, std::ostream& out) {
    ShowRegistration(r, {}, withPasswords, out);
}

// A value as one CSV cell.
std::string CsvCell(const std::string& value, char separator);

}  // namespace desk
