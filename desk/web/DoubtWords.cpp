#include "desk/web/DoubtWords.h"

#include "desk/FieldLabels.h"

#include <cstring>
#include <utility>

namespace desk {

namespace {

std::string Quoted(const std::string& text) { return "\xE2\x80\x9E" + text + "\xE2\x80\x9C"; }

// The mail reader's structural findings, in the order it reports them.
const std::pair<const char*, const char*> kStructure[] = {
    {"start line missing", "Die Anfangszeile des Datensatzes fehlt."},
    {"end line missing", "Die Schlusszeile des Datensatzes fehlt."},
    {"line missing", "Die Zeile fehlt."},
    {"unknown element", "Unbekannte Angabe im Datensatz."},
    {"end tag missing", "Die Endmarke der Angabe fehlt."},
    {"appears twice", "Die Angabe steht zweimal im Datensatz."},
    {"out of order", "Die Angabe steht an falscher Stelle."},
    {"text after the end tag", "Hinter der Endmarke steht noch Text."},
    {"no number", "Die Versionsangabe hat keine Nummer."},
};

std::string StructureSentence(const Doubt& doubt) {
    for (const auto& [english, german] : kStructure)
        if (doubt.message == english) return german;
    if (doubt.field == "version") return "Der Datensatz hat eine andere Version als erwartet.";
    return "Der Aufbau des Datensatzes weicht ab.";
}

}  // namespace

const char* DoubtHeading(DoubtKind kind) {
    switch (kind) {
        case DoubtKind::Rival: return "Mehrdeutig";
        case DoubtKind::InkMismatch: return "Passt nicht zur Schrift";
        case DoubtKind::Mended: return "Ausgebessert";
        case DoubtKind::LowConfidence: return "Unsicher gelesen";
        case DoubtKind::NotInList: return "Nicht in der Liste";
        case DoubtKind::OverLabel: return "\xC3\x9C" "ber den Rand geschrieben";
        case DoubtKind::Missing: return "Fehlt";
        case DoubtKind::DiffersFromTwin: return "Wiederholung weicht ab";
        case DoubtKind::BadForm: return "Falsche Form";
        case DoubtKind::LooksAlike: return "Verwechselbare Zeichen (I/l)";
        case DoubtKind::ReadFromFax: return "Vom Fax gelesen";
        case DoubtKind::Structure: return "Aufbau";
        case DoubtKind::Charset: return "Zeichensatz";
    }
    return "Zweifel";
}

std::string DoubtSentence(const Doubt& doubt, const std::string& value, bool secret) {
    const bool quote = !secret && !value.empty();
    const std::string rival = secret || doubt.rivals.empty() ? std::string() : doubt.rivals.front();
    switch (doubt.kind) {
        case DoubtKind::Rival:
            if (quote && !rival.empty()) return Quoted(value) + " k\xC3\xB6nnte auch " + Quoted(rival) + " sein.";
            return "Ein Text, der sich in einem Zeichen unterscheidet, passt fast genauso gut zur Schrift.";
        case DoubtKind::InkMismatch: return "Der Wert passt nicht zur Schrift auf dem Blatt.";
        case DoubtKind::Mended:
            if (!rival.empty()) return "Gelesen als " + Quoted(rival) + ", nach dem Schriftbild ausgebessert.";
            return "Nach dem Schriftbild ausgebessert.";
        case DoubtKind::LowConfidence:
            if (doubt.confidence >= 0)
                return "Die Texterkennung war unsicher (" + std::to_string(doubt.confidence) + " von 100).";
            return "Die Texterkennung war unsicher.";
        case DoubtKind::NotInList: return "Das Gelesene ist keiner der Werte der Liste.";
        case DoubtKind::OverLabel: return "Die Antwort reicht in den gedruckten Text daneben.";
        case DoubtKind::Missing:
            return doubt.page > 0 ? "Auf dem Blatt steht hier nichts." : "Diese Angabe fehlt im Datensatz.";
        case DoubtKind::DiffersFromTwin: return "Die Wiederholung des Passworts weicht vom Passwort ab.";
        case DoubtKind::BadForm:
            if (doubt.message.find("date") != std::string::npos) return "Kein Datum der Form TT.MM.JJJJ.";
            if (doubt.message.find("e-mail") != std::string::npos) return "Keine g\xC3\xBCltige E-Mail-Adresse.";
            return "Nicht in der Form, die das Feld verlangt.";
        case DoubtKind::LooksAlike:
            return "Enth\xC3\xA4lt I oder l, die auf Papier gleich aussehen: bitte am Blatt pr\xC3\xBC" "fen.";
        case DoubtKind::ReadFromFax:
            return "Nur die Schrift sagt, welche Zeichen ein Passwort hat: bitte Zeichen f\xC3\xBCr Zeichen mit dem "
                   "Blatt vergleichen.";
        case DoubtKind::Structure: return StructureSentence(doubt);
        case DoubtKind::Charset: return "Der Text der Mail stand nicht im angegebenen Zeichensatz.";
    }
    return "Bitte pr\xC3\xBC" "fen.";
}

std::string DoubtSummary(const Doubt& doubt) {
    std::string field = "Datensatz";
    for (const FieldLabel& label : SheetFieldLabels())
        if (doubt.field == label.name) field = label.label;
    const std::string page = doubt.page > 0 ? "Seite " + std::to_string(doubt.page) + ", " : std::string();
    return page + field + ": " + DoubtHeading(doubt.kind);
}

}  // namespace desk
