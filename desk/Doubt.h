// A doubt about one field of a registration, as data: what a person must look at, why, what else
// the field could hold, and where it stands on the page. Platform-free; shared by the readers,
// the database and every front end.
#pragma once

#include <string>
#include <vector>

namespace desk {

// Why a field needs a person. The names (DoubtKindName) are what the database stores.
enum class DoubtKind {
    Rival,            // another reading explains the ink (nearly) as well: the rivals are offered
    InkMismatch,      // the reading does not match the ink on the page
    Mended,           // the stored value differs from what the recogniser saw (drawing, list, domain)
    LowConfidence,    // the recogniser was unsure and nothing settled it
    NotInList,        // a list answer that is none of the list's values
    OverLabel,        // the answer runs over the printed text beside it
    Missing,          // no answer where one belongs, or an element missing from a mail
    DiffersFromTwin,  // the two password fields differ
    BadForm,          // not the form the field needs (a date, an e-mail address, the code page)
    LooksAlike,       // holds letters the paper cannot tell apart (I and l)
    ReadFromFax,      // a secret read from a fax: always confirmed by a person
    Structure,        // the mail record's own structure: unknown, repeated, out of order, cut off
    Charset,          // the mail's text was not in the charset it declared
};

const char* DoubtKindName(DoubtKind kind);
// The kind of a stored name; false for a name this version does not know.
bool DoubtKindFromName(const std::string& name, DoubtKind& kind);

// A box on a stored page image, in that image's pixels.
struct PageBox {
    int x = 0, y = 0, width = 0, height = 0;
    bool Empty() const { return width <= 0 || height <= 0; }
};

struct Doubt {
    std::string field;  // the element's name (kMailElements), or "new"/"version"/"mail" for the record
    DoubtKind kind = DoubtKind::Structure;
    std::string message;              // said in words, without the field's name; never a secret value
    std::vector<std::string> rivals;  // other values the field could hold, best first; none for a secret
    int confidence = -1;              // the recogniser's, 0 to 100; -1 where there is none (mail)
    int page = 0;                     // the page of a sheet, from 1; 0 for a mail
    PageBox box;                      // the field's box on that page's stored image

    // "page 2, field: message" (a mail's without the page), the one-line form of list and show.
    std::string Line() const;
};

// A doubt as a line of the form Line() gives, as version 1 of the database stored them: the
// page, the field and the message are taken apart, the kind found from the message's words.
Doubt DoubtFromLine(const std::string& line);

}  // namespace desk
