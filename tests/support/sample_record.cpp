// The desk tests' sample registrations, without any mail library: the core's tests use them too.
#include "tests/support/sample_record.h"

#include <string>

namespace corpus {

RegistrationRecord SampleRecord(int n, bool euro) {
    const std::string k = std::to_string(n);
    RegistrationRecord r;
    r.username = "kunde" + k + "@example.de";
    r.password_1 = r.password_2 = "G\xC3\xA4heim&<" + k + ">";
    r.aggraccept = "ja";
    r.vipkunde = n % 2 ? "ja" : "nein";
    r.vorname = "J\xC3\xBCrgen-" + k;
    r.nachname = "Gr\xC3\xB6\xC3\x9F" "e";
    r.firm = "M\xC3\xBCller & S\xC3\xB6hne <Holz> " + k + (euro ? " \xE2\x82\xAC" : "");
    r.addr = "Stra\xC3\x9F" "e des 17. Juni " + k;
    r.city = "K\xC3\xB6ln";
    r.zip = "5066" + std::to_string(n % 10);
    r.land = "Deutschland";
    r.tel = "0221 " + k;
    r.fax = "";
    r.alt = "30 - 39 Jahre";
    r.berstell = "Angestellter";
    r.lebkindih = "ja";
    r.pctyp = "Desktop-PC";
    r.betrsystem = "Windows XP";
    r.anwender = "Fortgeschrittener";
    r.gprod = "VK-" + k;
    r.gprodg = "Fachhandel";
    r.wgekauf = "Zeitschrift";
    r.dgekauf = "07.03.2002";
    r.pgekauf = "Atlas 2001, Routenplaner 2002, Stadtplan K\xC3\xB6ln, Wanderkarten der Eifel und " + k;
    r.kaufoft = "monatlich";
    return r;
}

}  // namespace corpus
