// The tests' shared sample registration (code page 1252).
#include "tests/support/sample_answers.h"

namespace sample {

RegistrationRecord SampleAnswers() {
    RegistrationRecord r;
    r.username = "anna@example.de";
    r.password_1 = r.password_2 = "Geh<e>im&1";
    r.aggraccept = "ja";
    r.vipkunde = "nein";
    r.vorname = "Anna";
    r.nachname = "M\xFCller";
    r.firm = "M\xFCller & S\xF6hne <KG>";
    r.addr = "Hauptstra\xDF" "e 5";
    r.city = "K\xF6ln";
    r.zip = "50667";
    r.land = "Deutschland";
    r.tel = "0221 123";
    r.fax = "0221 124";
    r.alt = "30-40 Jahre";
    r.berstell = "Angestellter";
    r.lebkindih = "ja";
    r.pctyp = "Desktop";
    r.betrsystem = "Windows XP";
    r.anwender = "Fortgeschrittener";
    r.gprod = "A-1234";
    r.gprodg = "Fachhandel";
    r.wgekauf = "Zeitschrift";
    r.dgekauf = "07.03.2002";
    r.pgekauf = "Atlas 2001";
    r.kaufoft = "monatlich";
    r.titel = "Der gro\xDF" "e Atlas";
    return r;
}

}  // namespace sample
