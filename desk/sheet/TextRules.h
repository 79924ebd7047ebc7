// What the sheet reader knows of texts without looking at the page: distances between readings,
// what an address, a date or a name may hold, the recogniser's letters folded to the form's, and
// which of one stroke (I or l) a word's letters call for. Table-tested in TextRules_test.cpp.
#pragma once

#include <string>
#include <vector>

namespace sheet {

// Edit distance (Levenshtein) between two texts of Unicode characters.
int Distance(const std::u32string& a, const std::u32string& b);
// The words of a reading, split at its blanks.
std::vector<std::u32string> Words(const std::u32string& text);
// How far `candidate` is from the reading or from any run of its words: specks of fax noise
// beside an answer are read as words of their own ("ja oo").
int DistanceToWords(const std::u32string& seen, const std::u32string& candidate);

// What Tesseract returns for a line (UTF-8): blanks collapsed, the line end gone, and
// typographic quotes and dashes that a keyboard answer cannot contain made plain.
std::string Tidy(const char* text);
// A word of nothing but marks at either end of a reading is a speck of noise read as a mark;
// the ink check sees whether a real one was dropped.
std::string WithoutStrayMarks(const std::string& text);
// Letters the recogniser mixes up in this font count as one when a reading is matched against
// a fixed set of values; the ink check then decides.
std::u32string Confusable(std::u32string text);
// The recogniser knows letters the form cannot hold; on this sheet each stands for one it can
// that looks the same (a dotless i is an i whose dot the fax lost). The ink check then decides.
std::string FoldToCodePage(const std::string& text);

// Something@something.tld, with nothing but the characters an address is made of.
bool PlausibleMail(const std::string& text);
// Whether the address ends in a top-level domain that exists. A fax that cut an address's last
// letter off at the page's edge leaves one that does not (".con").
bool KnownTopLevel(const std::string& mail);
// The address with each existing top-level domain one letter away from its own (changed, left
// out or put in).
std::vector<std::string> NearTopLevels(const std::string& mail);

// dd.mm.yyyy with a day and a month that exist in some month.
bool ValidDate(const std::string& text);
// A date reading as the sheet prints it (dd.mm.yyyy) when its words hold eight digits and
// nothing but marks between them; otherwise the reading unchanged.
std::string DateFromReading(const std::string& text);

// Code-page character classes: a letter (the accented ones too, not the multiplication and
// division signs), a small letter (the umlauts, the sharp s and the accented ones too).
bool IsLetter(unsigned char c);
bool IsLower(unsigned char c);
// A name: letters and the given marks only.
bool NameLike(const std::string& text, const char* marks);
// A mark that no typed word holds between two of its letters ("Tierlex!kon"): what a drawing
// makes of a blurred i or l, never an answer.
bool MarkInsideWord(const std::string& text);
// A digit between two small letters: in a street or a town that is a faxed sharp s or a b
// ("Schlo8allee").
bool DigitInsideWord(const std::string& text);

// In Arial bold a capital I and a small l are the same stroke, and nothing around a password
// tells which one was typed: whether a password (code page) holds one.
bool HoldsOneStroke(const std::string& password);

// A capital I and a small l (code page) are one stroke on the sheet; which one was typed
// follows from the letters around it: l after a small letter, or before a small one after a
// capital ("K\xF6ln", "Blume"); I alone, among capitals, and before a consonant at the start of
// a word ("VELK", "III", "Ilse"). Before a vowel at the start of a word both make words, so the
// reading's own choice stands and `doubtful` says so, unless it is an e-mail address (`mail`),
// which is written in small letters.
std::string SettleOneStroke(std::string text, bool mail, bool& doubtful);

}  // namespace sheet
