// The page is brought to 300 dpi in both directions, deskewed and binarised; its long
// horizontal lines are matched against the underscore runs of the layout to find scale and
// shift (and, when they only match turned round, that the page is upside down). Answers are
// read from the grey page with the lines painted out, one Tesseract rectangle each.
#include "desk/sheet/SheetReader.h"

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <stdexcept>

#include "desk/sheet/InkMatch.h"
#include "desk/sheet/ResourceText.h"
#include "output/MailRecord.h"
#include "res/resource.h"

// From libgomp, which Tesseract runs its threads on (declared here: clang has no omp.h of it).
extern "C" void omp_set_max_active_levels(int levels);

namespace sheet {

namespace {

constexpr int kDpi = 300;                // working resolution, and the layout's
// The largest page the reader scales to kDpi, in inches: A3 (16.5 x 11.7) and a little.
constexpr double kMaxLongSide = 17, kMaxShortSide = 12;
constexpr double kPi = 3.14159265358979323846;
constexpr int kMinLine = 100;            // shortest horizontal line taken for an underscore run
constexpr int kMinRegistration = 60;     // percent of runs that must be found on a reply sheet
constexpr int kTextConfidence = 80;      // below this, a free-text word needs a person

// The best-scoring candidate (lowest score: ink mismatch, or distance to a reading) and the
// runner-up's score: a candidate is taken only when it scores within `tolerance` and every
// other one clearly worse.
struct CBestMatch {
    int best = 1 << 30;
    int second = 1 << 30;
    std::string value;

    void Offer(int score, const std::string& candidate) {
        if (score < best) {
            second = best;
            best = score;
            value = candidate;
        } else if (score < second) {
            second = score;
        }
    }
    bool ClearlyAhead(int tolerance) const { return best <= tolerance && second > 2 * best + tolerance; }
};

struct Segment {
    int x0, x1, y;
};

// image = scale * layout + shift, per axis.
struct Transform {
    double sx = 1, tx = 0, sy = 1, ty = 0;
    int X(double x) const { return static_cast<int>(std::lround(sx * x + tx)); }
    int Y(double y) const { return static_cast<int>(std::lround(sy * y + ty)); }
};

int Distance(const std::u32string& a, const std::u32string& b) {
    std::vector<int> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = static_cast<int>(j);
    for (std::size_t i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = static_cast<int>(i);
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const int up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

// What Tesseract returns for a line: blanks collapsed, the line end gone, and typographic
// quotes and dashes that a keyboard answer cannot contain made plain.
std::string Tidy(const char* text) {
    std::string out;
    if (!text) return out;
    const std::u32string chars = DecodeUtf8(text);
    bool blank = false;
    std::u32string tidy;
    for (char32_t c : chars) {
        if (c == U'\u201E' || c == U'\u201C' || c == U'\u201D') c = U'"';
        if (c == U'\u2018' || c == U'\u2019' || c == U'\u201A') c = U'\'';
        if (c == U'\u2013' || c == U'\u2014') c = U'-';
        if (c == U' ' || c == U'\n' || c == U'\t' || c == U'\r') {
            blank = !tidy.empty();
            continue;
        }
        if (blank) tidy += U' ';
        blank = false;
        tidy += c;
    }
    for (char32_t c : tidy) AppendUtf8(out, c);
    return out;
}

// A word of nothing but marks at either end of a reading is a speck of noise read as a
// mark; the ink check sees whether a real one was dropped.
std::string WithoutStrayMarks(const std::string& text) {
    auto isMarks = [](const std::string& word) {
        // (UTF-8: the degree sign's two bytes count as a mark too.)
        return !word.empty() && word.find_first_not_of(".,:;'\"`\\/|-_~^*\xC2\xB0") == std::string::npos;
    };
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto blank = text.find(' ', start);
        words.push_back(text.substr(start, blank == std::string::npos ? std::string::npos : blank - start));
        if (blank == std::string::npos) break;
        start = blank + 1;
    }
    std::size_t first = 0, last = words.size();
    while (first < last && isMarks(words[first])) ++first;
    while (last > first && isMarks(words[last - 1])) --last;
    std::string out;
    for (std::size_t i = first; i < last; ++i) out += (i > first ? " " : "") + words[i];
    return out;
}

// The words of a reading, split at its blanks.
std::vector<std::u32string> Words(const std::u32string& text) {
    std::vector<std::u32string> words(1);
    for (char32_t c : text) {
        if (c == U' ')
            words.emplace_back();
        else
            words.back() += c;
    }
    return words;
}

// How far `candidate` is from the reading or from any run of its words: specks of fax noise
// beside an answer are read as words of their own ("ja oo").
int DistanceToWords(const std::u32string& seen, const std::u32string& candidate) {
    const std::vector<std::u32string> words = Words(seen);
    int best = Distance(seen, candidate);
    for (std::size_t first = 0; first < words.size(); ++first) {
        std::u32string run;
        for (std::size_t last = first; last < words.size(); ++last) {
            run += (last > first ? U" " : U"") + words[last];
            best = std::min(best, Distance(run, candidate));
        }
    }
    return best;
}

// Something@something.tld, with nothing but the characters an address is made of.
bool PlausibleMail(const std::string& text) {
    const auto at = text.find('@');
    if (at == std::string::npos || at == 0 || text.find('@', at + 1) != std::string::npos) return false;
    const auto dot = text.rfind('.');
    if (dot == std::string::npos || dot < at + 2 || dot + 2 >= text.size()) return false;
    for (unsigned char c : text)
        if (!(std::isalnum(c) || std::string("@.-_+").find(static_cast<char>(c)) != std::string::npos)) return false;
    return true;
}

// The top-level domains that exist: the generic ones and the countries' that the desk's
// customers write from.
constexpr const char* kTopLevels[] = {
    "com", "net", "org", "info", "biz", "edu", "gov", "name", "mobi", "online", "shop", "email",
    "eu", "de", "at", "ch", "li", "lu", "nl", "be", "fr", "it", "es", "pt", "pl", "cz", "sk",
    "hu", "si", "hr", "ro", "bg", "gr", "dk", "se", "no", "fi", "is", "ie", "uk", "ee", "lv",
    "lt", "ru", "ua", "tr", "us", "ca", "au", "nz", "jp", "cn", "in", "br", "io", "me", "tv",
    "cc", "co", "berlin", "hamburg", "koeln", "bayern", "nrw", "ruhr", "wien", "swiss"};

// The address's top-level domain, in small letters ("" without a dot).
std::string TopLevel(const std::string& mail) {
    const auto dot = mail.rfind('.');
    std::string top = dot == std::string::npos ? std::string() : mail.substr(dot + 1);
    for (char& c : top) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return top;
}

// Whether the address ends in a top-level domain that exists. A fax that cut an address's
// last letter off at the page's edge leaves one that does not (".con").
bool KnownTopLevel(const std::string& mail) {
    const std::string top = TopLevel(mail);
    return std::any_of(std::begin(kTopLevels), std::end(kTopLevels), [&](const char* known) { return top == known; });
}

// The address with each existing top-level domain one letter away from its own (changed,
// left out or put in).
std::vector<std::string> NearTopLevels(const std::string& mail) {
    std::vector<std::string> out;
    const auto dot = mail.rfind('.');
    if (dot == std::string::npos) return out;
    const std::u32string top = DecodeUtf8(TopLevel(mail));
    for (const char* known : kTopLevels)
        if (Distance(top, DecodeUtf8(known)) == 1) out.push_back(mail.substr(0, dot + 1) + known);
    return out;
}

// Letters the recogniser mixes up in this font count as one when a reading is matched
// against a fixed set of values; the ink check then decides.
std::u32string Confusable(std::u32string text) {
    for (char32_t& c : text) {
        if (c == U'l' || c == U'|' || c == U'1' || c == U'!') c = U'I';
        if (c == U'0') c = U'O';
    }
    return text;
}

// The recogniser knows letters the form cannot hold; on this sheet each stands for one it can
// that looks the same (a dotless i is an i whose dot the fax lost). The ink check then decides.
std::string FoldToCodePage(const std::string& text) {
    std::string out;
    for (char32_t c : DecodeUtf8(text)) {
        if (c == U'\u0131') c = U'i';
        if (c == U'\u0130') c = U'I';
        if (c == U'\u0142') c = U'l';
        if (c == U'\u2010' || c == U'\u2011' || c == U'\u2212') c = U'-';
        if (c == U'\uFB01' || c == U'\uFB02') {
            out += c == U'\uFB01' ? "fi" : "fl";
            continue;
        }
        AppendUtf8(out, c);
    }
    return out;
}

// In Arial bold a capital I and a small l are the same stroke, and nothing around a password
// tells which one was typed: the review problem of a password that holds one, or "". It names
// the kind of doubt only: a password never stands in a message.
std::string OneStrokeInPassword(const std::string& password) {
    return password.find_first_of("Il|") == std::string::npos ? std::string()
                                                                : "holds I or l, which look alike on paper";
}

// A reading as a review message quotes it: the text in quotes and a blank, or nothing for a
// secret field, whose doubts name the kind of doubt and never the value or a rival of it.
std::string Quoted(const SheetField& field, const std::string& text) {
    return IsSecretField(field.member) ? std::string() : "\"" + text + "\" ";
}

bool ValidDate(const std::string& text) {
    if (text.size() != 10 || text[2] != '.' || text[5] != '.') return false;
    for (int i : {0, 1, 3, 4, 6, 7, 8, 9})
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    const int day = std::stoi(text.substr(0, 2)), month = std::stoi(text.substr(3, 2));
    return day >= 1 && day <= 31 && month >= 1 && month <= 12;
}

std::vector<Segment> HorizontalLines(PIX* binary, CPix& linesOut, CPix* piecesOut = nullptr) {
    // A faxed underscore run comes in pieces a few pixels apart. Closing the gaps also merges
    // the letters of a text row, but those make tall blocks, which go again; what stays long
    // and thin is a run.
    std::vector<Segment> segments;
    CPix closed(pixCloseBrick(nullptr, binary, 31, 1));
    if (!closed) return segments;
    CPix tall(pixOpenBrick(nullptr, closed.Get(), 1, 9));
    CPix tallWide(tall ? pixDilateBrick(nullptr, tall.Get(), 5, 5) : nullptr);
    if (!tallWide) return segments;
    pixSubtract(closed.Get(), closed.Get(), tallWide.Get());
    // Shorter thin pieces are what is left of a run where a fax broke it: they are painted
    // out with the runs, but only whole runs place the page.
    if (piecesOut) *piecesOut = CPix(pixOpenBrick(nullptr, closed.Get(), 31, 1));
    linesOut = CPix(pixOpenBrick(nullptr, closed.Get(), kMinLine, 1));
    if (!linesOut) return segments;
    BOXA* boxes = pixConnComp(linesOut.Get(), nullptr, 8);
    if (!boxes) return segments;
    for (int i = 0; i < boxaGetCount(boxes); ++i) {
        l_int32 x, y, w, h;
        if (boxaGetBoxGeometry(boxes, i, &x, &y, &w, &h)) continue;
        if (w >= kMinLine && h <= 14) segments.push_back({x, x + w, y + h / 2});
    }
    boxaDestroy(&boxes);
    return segments;
}

struct Match {
    const UnderscoreRun* run;
    const Segment* segment;
};

// Finds the transform that puts the most runs of `layout` onto `segments`; returns the share
// of runs it explains.
double Register(const SheetLayout& layout, const std::vector<Segment>& segments, Transform& best) {
    const auto& runs = layout.runs;
    if (runs.empty() || segments.empty()) return 0;
    auto matches = [&](const Transform& t, int tolX, int tolY, std::vector<Match>* out) {
        int count = 0;
        for (const UnderscoreRun& run : runs) {
            const int x0 = t.X(run.x0), y = t.Y(run.y);
            const Segment* hit = nullptr;
            for (const Segment& s : segments) {
                if (std::abs(s.y - y) <= tolY && std::abs(s.x0 - x0) <= tolX) {
                    if (!hit || std::abs(s.y - y) < std::abs(hit->y - y)) hit = &s;
                }
            }
            if (hit) {
                ++count;
                if (out) out->push_back({&run, hit});
            }
        }
        return count;
    };
    // Votes: every pair of a run and a line of about its length proposes a shift.
    int bestCount = 0;
    for (const UnderscoreRun& run : runs) {
        const int length = run.x1 - run.x0;
        for (const Segment& s : segments) {
            const int l = s.x1 - s.x0;
            if (l < length * 0.9 || l > length * 1.1) continue;
            Transform t;
            t.tx = s.x0 - run.x0;
            t.ty = s.y - run.y;
            const int count = matches(t, 40, 20, nullptr);
            if (count > bestCount) {
                bestCount = count;
                best = t;
            }
        }
    }
    if (!bestCount) return 0;
    // Least squares on what matched. The printed page may spread a justified line's extra
    // width over its blanks differently from GDI's measure, so x is matched loosely (that
    // error averages out over the page) and y tightly.
    for (int tol : {20, 12}) {
        std::vector<Match> found;
        matches(best, 40, tol, &found);
        if (found.size() < 4) break;
        double n = 0, sxx = 0, sx = 0, sxy = 0, sy = 0;
        double m = 0, syy2 = 0, sy2 = 0, syz = 0, sz = 0;
        for (const Match& f : found) {
            m += 1, sy2 += f.run->y, syy2 += double(f.run->y) * f.run->y, sz += f.segment->y,
                syz += double(f.run->y) * f.segment->y;
            // x from the ends of lines that were not broken.
            const double expected = (f.run->x1 - f.run->x0) * best.sx;
            if (std::abs((f.segment->x1 - f.segment->x0) - expected) < 40) {
                for (auto [a, b] : {std::pair{f.run->x0, f.segment->x0}, std::pair{f.run->x1, f.segment->x1}}) {
                    n += 1, sx += a, sxx += double(a) * a, sy += b, sxy += double(a) * b;
                }
            }
        }
        const double dy = m * syy2 - sy2 * sy2;
        if (m >= 3 && dy > 0) {
            best.sy = (m * syz - sy2 * sz) / dy;
            best.ty = (sz - best.sy * sy2) / m;
        }
        const double dx = n * sxx - sx * sx;
        if (n >= 4 && dx > 0) {
            best.sx = (n * sxy - sx * sy) / dx;
            best.tx = (sy - best.sx * sx) / n;
        }
    }
    return static_cast<double>(matches(best, 40, 12, nullptr)) / runs.size();
}

}  // namespace

struct CSheetReader::Impl {
    CFontMeasure fonts;
    SheetLayout layout;
    tesseract::TessBaseAPI ocr;
    const CResourceText& texts = CResourceText::BuiltIn();

    Impl() : layout(BuildSheetLayout(fonts, kDpi)) {
        // Names, streets and passwords are no dictionary words: the word lists would only
        // pull odd spellings toward common ones.
        std::vector<std::string> names = {"load_system_dawg", "load_freq_dawg"};
        std::vector<std::string> values = {"0", "0"};
        if (ocr.Init(nullptr, "deu", tesseract::OEM_LSTM_ONLY, nullptr, 0, &names, &values, false))
            throw std::runtime_error("Tesseract cannot load its German model (package tesseract-ocr-deu)");
        ocr.SetPageSegMode(tesseract::PSM_SINGLE_LINE);
        ocr.SetVariable("user_defined_dpi", "300");
        ocr.SetVariable("debug_file", "/dev/null");
        // Answers are dark on light: trying each line inverted as well only costs time.
        ocr.SetVariable("tessedit_do_invert", "0");
    }
    ~Impl() { ocr.End(); }

    // How far `printed`, drawn the way the sheet draws it, and the ink in the box fail to
    // account for each other: pixels of the larger disagreeing blobs, at the best of a few
    // nearby placements (0 when they agree).
    // `around`: what else the page prints there (a label the answer runs over), drawn where it
    // was found; the ink must show it too.
    int CheckInk(PIX* binary, const Transform& t, const AnswerSpot& a, const std::string& printed, int offset,
                 int x0, int y0, int x1, int y1, int near, PIX* around = nullptr);

    // Text in a box of the page set with SetImage, and the lowest word confidence.
    std::string Recognise(int x0, int y0, int x1, int y1, int& confidence) {
        ocr.SetRectangle(x0, y0, std::max(1, x1 - x0), std::max(1, y1 - y0));
        std::unique_ptr<char[]> text(ocr.GetUTF8Text());
        confidence = 100;
        bool any = false;
        if (tesseract::ResultIterator* it = ocr.GetIterator()) {
            do {
                const float c = it->Confidence(tesseract::RIL_WORD);
                confidence = std::min(confidence, static_cast<int>(c));
                any = true;
            } while (it->Next(tesseract::RIL_WORD));
            delete it;
        }
        if (!any) confidence = 0;
        return Tidy(text.get());
    }
};

int CSheetReader::Impl::CheckInk(PIX* binary, const Transform& t, const AnswerSpot& a, const std::string& printed,
                                 int offset, int x0, int y0, int x1, int y1, int near, PIX* around) {
    int inkLeft = 0, inkRight = 0;
    if (!fonts.InkExtent(a.ppem, true, printed, inkLeft, inkRight)) return 0;
    int baseline = 0;
    CPix rendered(fonts.Render(a.ppem, true, printed, t.sx, t.sy, baseline));
    if (!rendered) return 0;
    const int w = pixGetWidth(binary), h = pixGetHeight(binary);
    x0 = std::max(0, x0), y0 = std::max(0, y0), x1 = std::min(w, x1), y1 = std::min(h, y1);
    if (x1 <= x0 || y1 <= y0) return 1 << 20;
    BOX* box = boxCreate(x0, y0, x1 - x0, y1 - y0);
    CPix ink(pixClipRectangle(binary, box, nullptr));
    CPix printedAround(around ? pixClipRectangle(around, box, nullptr) : nullptr);
    boxDestroy(&box);
    if (!ink) return 1 << 20;
    // Where the layout says the text stands, shifted by the page's answer offset; the best
    // of a few nearby placements is taken.
    const int rx = t.X(a.x + inkLeft) + offset - x0;
    const int ry = t.Y(a.y + a.metrics.ascent) - baseline - y0;
    const int cw = pixGetWidth(ink.Get()), ch = pixGetHeight(ink.Get());
    CPix inkNear(pixDilateBrick(nullptr, ink.Get(), near, near));
    int best = 1 << 30;
    // Nearest placements first; a perfect match ends the search.
    std::vector<std::pair<int, int>> placements;
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -5; dx <= 5; ++dx) placements.push_back({dx, dy});
    std::stable_sort(placements.begin(), placements.end(), [](const auto& p, const auto& q) {
        return std::abs(p.first) + std::abs(p.second) < std::abs(q.first) + std::abs(q.second);
    });
    for (auto [dx, dy] : placements) {
        if (best == 0) break;
        {
            CPix placed(pixCreate(cw, ch, 1));
            pixRasterop(placed.Get(), rx + dx, ry + dy, pixGetWidth(rendered.Get()), pixGetHeight(rendered.Get()),
                        PIX_SRC, rendered.Get(), 0, 0);
            if (printedAround) pixOr(placed.Get(), placed.Get(), printedAround.Get());
            CPix placedNear(pixDilateBrick(nullptr, placed.Get(), near, near));
            // Ink the text does not explain, and text the ink does not show; specks aside.
            CPix extra(pixSubtract(nullptr, ink.Get(), placedNear.Get()));
            CPix missing(pixSubtract(nullptr, placed.Get(), inkNear.Get()));
            CPix extraBig(pixSelectBySize(extra.Get(), 3, 3, 8, L_SELECT_IF_BOTH, L_SELECT_IF_GTE, nullptr));
            CPix missingBig(pixSelectBySize(missing.Get(), 3, 3, 8, L_SELECT_IF_BOTH, L_SELECT_IF_GTE, nullptr));
            const int e = CountPixels(extraBig.Get()), m = CountPixels(missingBig.Get());
            if (std::max(e, m) < best) {
                best = static_cast<int>(std::max(e, m));
            }
        }
    }
    return best;
}

CSheetReader::CSheetReader() : impl_(std::make_unique<Impl>()) {}
CSheetReader::~CSheetReader() = default;

namespace {

// Black pixels of `binary` inside the box, and the first and last column that holds any.
int Ink(PIX* binary, int x0, int y0, int x1, int y1, int& left, int& right) {
    const int w = pixGetWidth(binary), h = pixGetHeight(binary);
    x0 = std::max(0, x0), y0 = std::max(0, y0), x1 = std::min(w, x1), y1 = std::min(h, y1);
    int count = 0;
    left = x1, right = x0;
    const l_uint32* data = pixGetData(binary);
    const int wpl = pixGetWpl(binary);
    for (int y = y0; y < y1; ++y) {
        const l_uint32* line = data + y * wpl;
        for (int x = x0; x < x1; ++x) {
            if (GET_DATA_BIT(line, x)) {
                ++count;
                left = std::min(left, x);
                right = std::max(right, x + 1);
            }
        }
    }
    return count;
}

// Pixels of the marks at least `minHeight` tall in the box, outside the columns from..to.
int LetterInk(PIX* binary, int x0, int y0, int x1, int y1, int from, int to, int minHeight) {
    const int w = pixGetWidth(binary), h = pixGetHeight(binary);
    x0 = std::max(0, x0), y0 = std::max(0, y0), x1 = std::min(w, x1), y1 = std::min(h, y1);
    if (x1 <= x0 || y1 <= y0) return 0;
    BOX* box = boxCreate(x0, y0, x1 - x0, y1 - y0);
    CPix part(pixClipRectangle(binary, box, nullptr));
    boxDestroy(&box);
    if (!part) return 0;
    if (to > from) pixRasterop(part.Get(), from - x0, 0, to - from, y1 - y0, PIX_CLR, nullptr, 0, 0);
    CPix tall(pixSelectBySize(part.Get(), 0, minHeight, 8, L_SELECT_HEIGHT, L_SELECT_IF_GTE, nullptr));
    return tall ? CountPixels(tall.Get()) : 0;
}

}  // namespace

namespace {

// A letter of the code page (the accented ones too, not the multiplication and division signs).
bool IsLetter(unsigned char c) { return std::isalpha(c) || (c >= 0xC0 && c != 0xD7 && c != 0xF7); }

// A name: letters and the given marks only.
bool NameLike(const std::string& text, const char* marks) {
    for (unsigned char c : text)
        if (!IsLetter(c) && !std::strchr(marks, c)) return false;
    return true;
}

// A mark that no typed word holds between two of its letters ("Tierlex!kon"): what a drawing
// makes of a blurred i or l, never an answer.
bool MarkInsideWord(const std::string& text) {
    for (std::size_t k = 1; k + 1 < text.size(); ++k) {
        if (std::strchr("!?;:\"#*|", text[k]) && IsLetter(static_cast<unsigned char>(text[k - 1])) &&
            IsLetter(static_cast<unsigned char>(text[k + 1])))
            return true;
    }
    return false;
}

bool DigitInsideWord(const std::string& text) {
    for (std::size_t k = 1; k + 1 < text.size(); ++k)
        if (std::isdigit(static_cast<unsigned char>(text[k])) && IsLower(static_cast<unsigned char>(text[k - 1])) &&
            IsLower(static_cast<unsigned char>(text[k + 1])))
            return true;
    return false;
}

// Where the run under an answer ends on the page: the line found there, or the layout's end.
int RunEndOnPage(const AnswerSpot& a, const Transform& t, const std::vector<Segment>& segments) {
    const int ax = t.X(a.x), lineY = t.Y(a.y + a.metrics.height) + 4;
    int runEnd = t.X(a.runEnd);
    for (const Segment& s : segments)
        if (std::abs(s.y - lineY) <= 10 && s.x0 - 40 <= ax && ax < s.x1) runEnd = s.x1;
    return runEnd;
}

// The label printed behind an answer's run on the same line (code page), with its line and the
// index of its first character there; empty when the run is the last of its line.
std::string LabelBehind(const SheetLayout& layout, const AnswerSpot& a, const DrawnText*& line, std::size_t& start) {
    line = nullptr;
    for (const DrawnText& text : layout.texts)
        if (text.stringId == a.lineId) line = &text;
    if (!line) return std::string();
    std::size_t k = 0;
    while (k < line->text.size() && line->pen[k] < a.runEnd) ++k;
    while (k < line->text.size() && line->text[k] == ' ') ++k;
    std::size_t end = k;
    while (end < line->text.size() && line->text[end] != '_') ++end;
    while (end > k && line->text[end - 1] == ' ') --end;
    start = k;
    return line->text.substr(k, end - k);
}

// An answer that reaches the end of its run may run on over the label printed behind it, as
// the layout draws long answers. Such a label is found on the page by drawing it in the form
// font and taken out, so that the recogniser sees the answer alone; where it was found is
// drawn into `labels`, so that a drawing of the answer can be compared with the ink the two
// leave together.
void EraseOverrunLabels(CFontMeasure& fonts, const SheetLayout& layout, PIX* binary, PIX* labels, const Transform& t,
                        const std::vector<Segment>& segments) {
    for (const AnswerSpot& a : layout.answers) {
        if (a.clipRight >= 0) continue;
        const DrawnText* line = nullptr;
        std::size_t k = 0;
        const std::string label = LabelBehind(layout, a, line, k);
        if (label.empty()) continue;

        int left = 0, right = 0;
        const int runEnd = RunEndOnPage(a, t, segments);
        if (!Ink(binary, runEnd - 8, t.Y(a.y), runEnd, t.Y(a.y + a.metrics.height), left, right)) continue;

        int baseline = 0;
        CPix drawn(fonts.Render(line->ppem, false, label, t.sx, t.sy, baseline));
        int inkLeft = 0, inkRight = 0;
        if (!drawn || !fonts.InkExtent(line->ppem, false, label, inkLeft, inkRight)) continue;
        const int dw = pixGetWidth(drawn.Get()), dh = pixGetHeight(drawn.Get());
        const int bx = t.X(line->pen[k] + inkLeft) - 40, by = t.Y(line->y + line->metrics.ascent) - baseline - 6;
        const int bw = dw + 80, bh = dh + 12;
        BOX* box = boxCreate(bx, by, bw, bh);
        CPix region(pixClipRectangle(binary, box, nullptr));
        boxDestroy(&box);
        if (!region || pixGetWidth(region.Get()) != bw || pixGetHeight(region.Get()) != bh) continue;
        // The placement where most of the label's pixels are ink.
        l_int32 labelPixels = 0;
        pixCountPixels(drawn.Get(), &labelPixels, nullptr);
        int best = -1, bestX = 0, bestY = 0;
        for (int dy = 3; dy <= 9; ++dy) {
            for (int dx = 0; dx <= 80; ++dx) {
                CPix placed(pixCreate(bw, bh, 1));
                pixRasterop(placed.Get(), dx, dy, dw, dh, PIX_SRC, drawn.Get(), 0, 0);
                pixAnd(placed.Get(), placed.Get(), region.Get());
                l_int32 overlap = 0;
                pixCountPixels(placed.Get(), &overlap, nullptr);
                if (overlap > best) best = overlap, bestX = dx, bestY = dy;
            }
        }
        if (best * 10 < labelPixels * 7) continue;  // not this label: leave the page alone
        CPix placed(pixCreate(bw, bh, 1));
        pixRasterop(placed.Get(), bestX, bestY, dw, dh, PIX_SRC, drawn.Get(), 0, 0);
        pixRasterop(labels, bx, by, bw, bh, PIX_SRC | PIX_DST, placed.Get(), 0, 0);
        CPix wide(pixDilateBrick(nullptr, placed.Get(), 3, 3));
        pixRasterop(binary, bx, by, bw, bh, PIX_SUBTRACT, wide.Get(), 0, 0);
    }
}

}  // namespace

SheetReading CSheetReader::Read(const PageImage& page) {
    // Tesseract's OpenMP threads spin while they wait for each other; on the desk's two cores
    // that made a page take half again as long as one thread does, and twice as long where two
    // readers run beside each other. The setting holds for the thread that sets it only, so
    // each reading thread sets it.
    omp_set_max_active_levels(0);
    Impl& m = *impl_;
    SheetReading result;
    result.fields.resize(kSheetFieldCount);
    PIX* source = page.pix.Get();
    if (!source) {
        result.notSheetReason = "empty image";
        return result;
    }
    const int w = pixGetWidth(source), h = pixGetHeight(source);
    // A page that does not say its resolution is taken to be A4.
    double xres = page.xres, yres = page.yres;
    if (xres < 50 || xres > 1200) xres = w / 8.27;
    if (yres < 50 || yres > 1200) yres = h / 11.69;
    if (w < 200 || h < 200 || xres < 50 || yres < 50) {
        result.notSheetReason = "image too small for a page";
        return result;
    }
    // Brought to 300 dpi, the page must fit on A3, either way round: a large image claiming a
    // low resolution would otherwise be scaled up to a page of metres, its work and memory
    // growing with the square of the scale. (The sheet is A4; a scan may have a margin.)
    const double longSide = std::max(w / xres, h / yres), shortSide = std::min(w / xres, h / yres);
    if (longSide > kMaxLongSide || shortSide > kMaxShortSide) {
        char reason[96];
        std::snprintf(reason, sizeof reason, "%.0f x %.0f mm at its resolution, larger than A3",
                      w / xres * 25.4, h / yres * 25.4);
        result.notSheetReason = reason;
        return result;
    }

    // Lone specks of fax noise go before anything is scaled up.
    CPix despeckled;
    if (pixGetDepth(source) == 1)
        despeckled = CPix(pixSelectBySize(source, 2, 2, 8, L_SELECT_IF_EITHER, L_SELECT_IF_GTE, nullptr));
    CPix grey(pixConvertTo8(despeckled ? despeckled.Get() : source, 0));
    if (!grey) {
        result.notSheetReason = "image of an unsupported kind";
        return result;
    }
    CPix scaled(pixScale(grey.Get(), kDpi / xres, kDpi / yres));
    if (!scaled) {
        result.notSheetReason = "image cannot be scaled";
        return result;
    }
    CPix binary(pixThresholdToBinary(scaled.Get(), 160));
    l_float32 angle = 0, conf = 0;
    if (binary && pixFindSkew(binary.Get(), &angle, &conf) == 0 && conf > 2.5 && std::fabs(angle) > 0.05 &&
        std::fabs(angle) < 5) {
        result.skewDegrees = angle;
        CPix rotated(pixRotate(scaled.Get(), angle * kPi / 180, L_ROTATE_AREA_MAP, L_BRING_IN_WHITE, 0, 0));
        if (rotated) {
            scaled = std::move(rotated);
            binary = CPix(pixThresholdToBinary(scaled.Get(), 160));
        }
    }
    if (!binary) {
        result.notSheetReason = "image cannot be binarised";
        return result;
    }

    CPix lines;
    Transform t;
    CPix pieces;
    std::vector<Segment> segments = HorizontalLines(binary.Get(), lines, &pieces);
    result.registration = Register(m.layout, segments, t);
    if (result.registration < 0.9) {
        // Maybe it came upside down.
        CPix turnedGrey(pixRotate180(nullptr, scaled.Get()));
        CPix turnedBinary(turnedGrey ? pixThresholdToBinary(turnedGrey.Get(), 160) : nullptr);
        CPix turnedLines;
        Transform turned;
        std::vector<Segment> turnedSegments;
        CPix turnedPieces;
        if (turnedBinary) turnedSegments = HorizontalLines(turnedBinary.Get(), turnedLines, &turnedPieces);
        const double score = turnedBinary ? Register(m.layout, turnedSegments, turned) : 0;
        if (score > result.registration) {
            result.registration = score;
            result.upsideDown = true;
            t = turned;
            scaled = std::move(turnedGrey);
            binary = std::move(turnedBinary);
            lines = std::move(turnedLines);
            segments = std::move(turnedSegments);
            pieces = std::move(turnedPieces);
        }
    }
    if (result.registration * 100 < kMinRegistration || t.sx < 0.9 || t.sx > 1.1 || t.sy < 0.9 || t.sy > 1.1) {
        char reason[96];
        std::snprintf(reason, sizeof reason, "no reply sheet: %.0f%% of its underscore lines found",
                      result.registration * 100);
        result.notSheetReason = reason;
        return result;
    }

    // The lines go, and so do specks too small for any letter or dot: Tesseract gets the
    // answers alone.
    // Only pieces on the rows of the runs are the runs' own: a thin band elsewhere is the top
    // or bottom of a line of text.
    CPix onRows(pixCreate(pixGetWidth(binary.Get()), pixGetHeight(binary.Get()), 1));
    BOXA* pieceBoxes = pieces && onRows ? pixConnComp(pieces.Get(), nullptr, 8) : nullptr;
    for (int i = 0; pieceBoxes && i < boxaGetCount(pieceBoxes); ++i) {
        l_int32 x, y, w, h;
        if (boxaGetBoxGeometry(pieceBoxes, i, &x, &y, &w, &h)) continue;
        bool onRun = false;
        for (const Segment& s : segments) onRun = onRun || std::abs(y + h / 2 - s.y) <= 8;
        if (onRun) pixRasterop(onRows.Get(), x, y, w, h, PIX_SRC | PIX_DST, pieces.Get(), x, y);
    }
    if (pieceBoxes) boxaDestroy(&pieceBoxes);
    CPix mask(onRows ? pixDilateBrick(nullptr, onRows.Get(), 25, 7) : nullptr);
    if (mask) pixSubtract(binary.Get(), binary.Get(), mask.Get());
    // A speck stays only where it can be a letter's dot: just above or below other ink. A
    // fax at standard resolution leaves a hyphen one row thin, and so as small: a flat mark
    // with letters beside it on its own rows stays too.
    CPix big(pixSelectBySize(binary.Get(), 4, 4, 8, L_SELECT_IF_BOTH, L_SELECT_IF_GTE, nullptr));
    if (big) {
        CPix small(pixSubtract(nullptr, binary.Get(), big.Get()));
        CPix near(pixDilateBrick(nullptr, big.Get(), 3, 17));
        if (small && near) {
            CPix dots(pixAnd(nullptr, small.Get(), near.Get()));
            BOXA* marks = pixConnComp(small.Get(), nullptr, 8);
            for (int i = 0; marks && i < boxaGetCount(marks); ++i) {
                l_int32 x, y, bw, bh;
                if (boxaGetBoxGeometry(marks, i, &x, &y, &bw, &bh) || bw < 6 || bw < 2 * bh) continue;
                l_int32 left = 0, right = 0;
                BOX* before = boxCreate(std::max(0, x - 12), y, std::min(x, 12), bh);
                BOX* after = boxCreate(x + bw, y, 12, bh);
                if (before) pixCountPixelsInRect(big.Get(), before, &left, nullptr);
                if (after) pixCountPixelsInRect(big.Get(), after, &right, nullptr);
                boxDestroy(&before);
                boxDestroy(&after);
                if (left > 0 && right > 0 && dots)
                    pixRasterop(dots.Get(), x, y, bw, bh, PIX_SRC | PIX_DST, small.Get(), x, y);
            }
            if (marks) boxaDestroy(&marks);
            if (dots) pixOr(big.Get(), big.Get(), dots.Get());
        }
        binary = std::move(big);
    }
    // The page as it was before the labels went: what an answer that runs over one is checked
    // against, together with the label's drawing.
    CPix original(pixCopy(nullptr, binary.Get()));
    CPix labels(pixCreate(pixGetWidth(binary.Get()), pixGetHeight(binary.Get()), 1));
    if (!original || !labels) {
        result.notSheetReason = "out of memory";
        return result;
    }
    EraseOverrunLabels(m.fonts, m.layout, binary.Get(), labels.Get(), t, segments);
    m.ocr.SetImage(binary.Get());
    // The page is at the working resolution now, whatever its file said; an image that names
    // none (a page rendered from a PDF, some scans) would leave Tesseract to guess it.
    m.ocr.SetSourceResolution(kDpi);

    // The page's own fixed texts tell a reply sheet from a page that only has lines.
    int recognised = 0, checked = 0;
    for (const DrawnText& text : m.layout.texts) {
        if (text.stringId != IDS_PRINT_TITLE && text.stringId != IDS_PRINT_HEAD_OPTIONAL) continue;
        ++checked;
        int confidence = 0;
        const std::string seen = m.Recognise(t.X(text.x) - 10, t.Y(text.y) - 8, t.X(text.pen.back()) + 10,
                                             t.Y(text.y + text.metrics.height) + 8, confidence);
        const std::u32string expected = DecodeUtf8(Windows1252ToUtf8(text.text));
        if (Distance(DecodeUtf8(seen), expected) * 4 <= static_cast<int>(expected.size())) ++recognised;
    }
    if (recognised == 0 || checked == 0) {
        result.notSheetReason = "no reply sheet: its title and headings are not there";
        return result;
    }
    result.isSheet = true;

    const std::string yes = Windows1252ToUtf8(m.texts.String(IDS_YES)), no = Windows1252ToUtf8(m.texts.String(IDS_NO));
    // First every answer is read; then the readings are checked against the ink, once the
    // page's own horizontal offset of the answers is known.
    struct Pending {
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0, left = 0, right = 0;
        bool overflow = false;
        std::string printed;  // code page text the ink must show
        std::vector<std::string> set;  // a fixed set's values, UTF-8
        bool outsideSet = false;       // the recogniser's reading is none of them
        bool unsure = false;           // a text the recogniser was unsure of
    };
    std::vector<Pending> pending(kSheetFieldCount);
    struct Shift {
        int x, y, off;  // where the answer begins, and how far its ink stands from the layout's
    };
    std::vector<Shift> offsets;
    for (int i = 0; i < kSheetFieldCount; ++i) {
        const SheetField& field = kSheetFields[i];
        const AnswerSpot& a = m.layout.answers[i];
        FieldReading& reading = result.fields[i];
        Pending& p = pending[i];
        const int pad = 8;
        // The run the answer stands on, as found on the page: its top is the box's bottom,
        // its end the box's right edge.
        const int ax = t.X(a.x), lineY = t.Y(a.y + a.metrics.height) + 4;
        int runEnd = t.X(a.runEnd), runTop = lineY + 2;
        for (const Segment& s : segments) {
            if (std::abs(s.y - lineY) <= 10 && s.x0 - 40 <= ax && ax < s.x1) {
                runEnd = s.x1;
                runTop = s.y - 4;
            }
        }
        p.y0 = t.Y(a.y) - 2;  // the line above ends where this cell begins
        p.y1 = std::min(t.Y(a.y + a.metrics.height) + 3, runTop);
        p.x0 = ax - pad;
        // A run broken by the fax ends later than its first piece.
        p.x1 = a.clipRight >= 0 ? t.X(a.clipRight) : std::max(runEnd, t.X(a.runEnd) - 10);
        int ink = Ink(binary.Get(), p.x0, p.y0, p.x1, p.y1, p.left, p.right);
        if (ink > 0 && a.clipRight < 0 && p.right >= p.x1 - 8 && a.limit > a.runEnd) {
            // Ink reaches the run's end: the answer goes on past it, up to the first gap of
            // two blanks (the printed label behind a run stands that far off). When that gap
            // only comes after the label, the answer runs over printed text. With no label
            // behind the run, only a wider gap ends it: a fax may drop a period between two
            // words, which leaves a gap that wide.
            const DrawnText* line = nullptr;
            std::size_t labelIndex = 0;
            const bool labelBehind = !LabelBehind(m.layout, a, line, labelIndex).empty();
            const int limit = t.X(a.limit) - pad;
            const int gap = t.X(a.x + 2 * m.fonts.Advance(a.ppem, true, ' ')) - ax;
            const int endingGap = labelBehind ? gap * 3 / 4 : gap * 2;
            int end = limit, blank = 0;
            for (int x = p.x1 - 8; x < limit; ++x) {
                int l = 0, r = 0;
                blank = Ink(binary.Get(), x, p.y0, x + 1, p.y1, l, r) ? 0 : blank + 1;
                if (blank >= endingGap) {
                    end = x - blank + 3;
                    break;
                }
            }
            const int labelStart = t.X(a.runEnd) + gap;
            p.overflow = labelBehind && end > labelStart;
            p.x1 = end;
            ink = Ink(binary.Get(), p.x0, p.y0, p.x1, p.y1, p.left, p.right);
        }
        int confidence = 0;
        // Tesseract gets the ink and a little white around it: a short answer alone in a long
        // empty box was sometimes not read at all.
        std::string seen = ink < 25 ? std::string()
                                    : m.Recognise(std::max(p.x0, p.left - 12), p.y0, std::min(p.x1, p.right + 12),
                                                  p.y1, confidence);
        if (seen.empty() && ink >= 25) {
            // Tesseract drops a very short line ("ja") now and then; as a single word it reads it.
            m.ocr.SetPageSegMode(tesseract::PSM_SINGLE_WORD);
            seen = m.Recognise(std::max(p.x0, p.left - 12), p.y0, std::min(p.x1, p.right + 12), p.y1, confidence);
            m.ocr.SetPageSegMode(tesseract::PSM_SINGLE_LINE);
        }
        if (!seen.empty()) seen = WithoutStrayMarks(seen);
        // What is left of an erased label's last mark sticks to an answer that ran over it.
        while (p.overflow && !seen.empty() && std::string(".,:;'`").find(seen.back()) != std::string::npos)
            seen.pop_back();
        std::vector<std::string> set;
        switch (field.kind) {
            case FieldKind::YesNo: set = {yes, no}; break;
            case FieldKind::List:
            case FieldKind::Country: {
                const auto& items = m.texts.List(m.texts.Id(field.listControl));
                for (std::size_t k = field.kind == FieldKind::List ? 1 : 0; k < items.size(); ++k)
                    set.push_back(Windows1252ToUtf8(items[k]));
                break;
            }
            case FieldKind::PurchasedBefore: set = {no}; break;
            default: break;
        }
        if (seen.empty() && ink >= 25 && !set.empty()) {
            // Nothing read where ink is: the values of the set are drawn in the answer font, and
            // one that matches the ink far better than every other is taken.
            CBestMatch match;
            for (const std::string& candidate : set) {
                std::string codePage;
                int inkLeft = 0, inkRight = 0;
                if (!Utf8ToWindows1252(candidate, codePage) || !m.fonts.InkExtent(a.ppem, true, codePage, inkLeft, inkRight))
                    continue;
                const int score = m.CheckInk(binary.Get(), t, a, codePage, p.left - t.X(a.x + inkLeft), p.x0, p.y0,
                                             p.x1, p.y1, 3);
                match.Offer(score, candidate);
            }
            if (match.ClearlyAhead(20)) {
                seen = match.value;
                confidence = kTextConfidence;
            }
        }
        reading.seen = seen;
        if (seen.empty()) {
            // A blank run: no answer. Some answers are always printed.
            reading.confidence = 100;
            const std::string name = field.name;
            if (field.kind == FieldKind::YesNo || field.kind == FieldKind::Date ||
                field.kind == FieldKind::PurchasedBefore || field.kind == FieldKind::Country || name == "vorname" ||
                name == "nachname" || name == "addr" || name == "zip" || name == "city" || name == "gprod" ||
                name == "titel")
                reading.problem = "no answer where one is always printed";
            else if (ink >= 25)
                reading.problem = "marks that are no text";
            continue;
        }
        reading.confidence = confidence;

        std::string value = FoldToCodePage(seen);
        if (field.member == &RegistrationRecord::username) {
            // An address holds no comma and no blank: on a fax a comma is a period with a tail
            // of noise. The ink check still has to agree.
            value.erase(std::remove(value.begin(), value.end(), ' '), value.end());
            std::replace(value.begin(), value.end(), ',', '.');
        }
        std::string printed = value;
        if (!set.empty()) {
            const std::u32string seenChars = Confusable(DecodeUtf8(seen));
            CBestMatch nearest;
            for (const std::string& candidate : set)
                nearest.Offer(Distance(seenChars, Confusable(DecodeUtf8(candidate))), candidate);
            const int allowed = std::max(1, static_cast<int>(DecodeUtf8(nearest.value).size()) / 4);
            if (nearest.best <= allowed && nearest.second > nearest.best) {
                // The ink check below decides whether the near miss really is this value.
                value = nearest.value;
                reading.confidence = std::max(0, std::min(confidence, 100 - 10 * nearest.best));
            } else if (field.kind != FieldKind::PurchasedBefore) {
                reading.problem = Quoted(field, seen) + "is none of its values";
                p.outsideSet = true;
            }
            if (field.kind != FieldKind::PurchasedBefore) p.set = set;
            printed = value;
            if (field.kind == FieldKind::PurchasedBefore && value == no) value.clear();
        } else if (field.kind == FieldKind::Date) {
            // The date is printed as dd.mm.yyyy: eight digits and two periods. Marks the
            // recogniser saw around them ("1.6,10.1999") are fax noise on the periods; the ink
            // check still has to agree.
            // A word without a digit beside the date is noise read as letters ("28.06.1999 oe").
            std::string kept, digits;
            for (const std::u32string& word : Words(DecodeUtf8(value))) {
                if (std::none_of(word.begin(), word.end(), [](char32_t c) { return c >= U'0' && c <= U'9'; }))
                    continue;
                if (!kept.empty()) kept += ' ';
                for (char32_t c : word) AppendUtf8(kept, c);
            }
            for (char c : kept)
                if (std::isdigit(static_cast<unsigned char>(c))) digits += c;
            if (digits.size() == 8 && kept.find_first_not_of("0123456789.,:; ") == std::string::npos)
                value = digits.substr(0, 2) + "." + digits.substr(2, 2) + "." + digits.substr(4);
            printed = value;
            if (!ValidDate(value)) reading.problem = Quoted(field, seen) + "is no date";
        } else if (field.member == &RegistrationRecord::username && !PlausibleMail(value)) {
            reading.problem = Quoted(field, seen) + "is no e-mail address";
        } else if (confidence < kTextConfidence) {
            reading.problem = IsSecretField(field.member) ? "unsure reading" : "unsure reading \"" + seen + "\"";
            p.unsure = true;
        } else if (field.member == &RegistrationRecord::password_1) {
            reading.problem = OneStrokeInPassword(seen);
        }
        if (p.overflow && reading.problem.empty()) reading.problem = "runs over the printed text beside it";
        // A list answer is one of its values or none: what the recogniser made of marks that
        // are none of them is named on the review list, not stored.
        reading.value = p.outsideSet ? std::string() : value;
        if (!Utf8ToWindows1252(printed, p.printed)) {
            if (reading.problem.empty())
                reading.problem = IsSecretField(field.member) ? "characters the form cannot hold"
                                                              : "characters the form cannot hold in \"" + seen + "\"";
            p.printed.clear();
            continue;
        }
        int inkLeft = 0, inkRight = 0;
        if (!p.overflow && m.fonts.InkExtent(a.ppem, true, p.printed, inkLeft, inkRight))
            offsets.push_back({t.X(a.x), p.y0, p.left - t.X(a.x + inkLeft)});
    }

    // A coarser page blurs letters more: the tolerance grows as the lines per inch fall.
    const int inkTolerance = yres >= 250 ? 8 : yres >= 150 ? 14 : 20;
    // How far ink and drawn text may lie apart: one pixel each way (less made every reading
    // disagree with its own edges).
    const int inkNear = 3;
    // By how many pixels the ink must prefer a reading to every text one character away before
    // the reading is trusted, when the drawing had to correct the recogniser or the recogniser
    // was unsure (when both agree, the ink only has to prefer it at all).
    const int inkMargin = yres >= 250 ? 8 : yres >= 150 ? 10 : 12;
    std::map<int, std::unique_ptr<CGlyphSet>> glyphs;  // by font size
    // Where the answers stand against the layout: a shift that may grow down the page (what
    // deskewing leaves of a sheared page) and across it (a page scaled a little more than its
    // landmarks told: 10 pixels between the left and the right answers of a fine fax put the
    // rightmost out of reach of the placement), fitted twice to the answers near the one before.
    // The first guess is the median shift: one answer whose left edge was found far off (a
    // speck, a label's tail) pulled a fit to all of them so far that every answer on the page
    // missed its ink.
    double offsetA = 0, offsetB = 0, offsetC = 0;
    const auto shiftAt = [&](int x, int y) { return offsetA + offsetB * y + offsetC * x; };
    if (!offsets.empty()) {
        std::vector<int> shifts;
        for (const Shift& s : offsets) shifts.push_back(s.off);
        std::nth_element(shifts.begin(), shifts.begin() + shifts.size() / 2, shifts.end());
        offsetA = shifts[shifts.size() / 2];
    }
    for (int round = 0; round < 2; ++round) {
        std::vector<Shift> kept;
        for (const Shift& s : offsets)
            if (std::fabs(s.off - shiftAt(s.x, s.y)) <= (round ? 6 : 8)) kept.push_back(s);
        if (kept.empty()) break;
        // Least squares about the answers' centre: off = a + b (y - my) + c (x - mx).
        const double n = static_cast<double>(kept.size());
        double mx = 0, my = 0, mo = 0;
        for (const Shift& s : kept) mx += s.x / n, my += s.y / n, mo += s.off / n;
        double sxx = 0, syy = 0, sxy = 0, sxo = 0, syo = 0;
        for (const Shift& s : kept) {
            const double dx = s.x - mx, dy = s.y - my, dof = s.off - mo;
            sxx += dx * dx, syy += dy * dy, sxy += dx * dy, sxo += dx * dof, syo += dy * dof;
        }
        double b = 0, c = 0;
        const double d = sxx * syy - sxy * sxy;
        if (kept.size() >= 6 && d > 1e-6 * sxx * syy) {
            b = (syo * sxx - sxo * sxy) / d;
            c = (sxo * syy - syo * sxy) / d;
        } else if (kept.size() >= 4 && syy > 0) {
            b = syo / syy;
        }
        offsetB = b, offsetC = c;
        offsetA = mo - b * my - c * mx;
    }
    // A shift that grows across the page is an error of the page's width scale: a long answer
    // drawn at the landmarks' scale drifts off its ink by its end. The answers' own scale is
    // taken for drawing and placing them (a few per cent at most: more is no scale error).
    if (std::fabs(offsetC) < 0.03) {
        t.sx *= 1 + offsetC;
        t.tx *= 1 + offsetC;
        offsetC = 0;
    }
    for (int i = 0; i < kSheetFieldCount; ++i) {
        const SheetField& field = kSheetFields[i];
        const AnswerSpot& a = m.layout.answers[i];
        FieldReading& reading = result.fields[i];
        const Pending& p = pending[i];
        if (!p.set.empty() && !reading.seen.empty() && !p.overflow && (reading.problem.empty() || p.outsideSet)) {
            // A value of a fixed set is the one whose drawing matches the ink: every value is
            // drawn in the answer font at the page's answer offset, and one is taken only when it
            // matches well and every other value clearly worse.
            const int offset = static_cast<int>(std::lround(shiftAt(t.X(a.x), p.y0)));
            CBestMatch match;
            // Only values near the reading, or as wide as the ink, are drawn: the others cannot
            // match it, and drawing a whole country list on every page costs time.
            const int seenWidth = p.right - p.left;
            const int blank = t.X(a.x + m.fonts.Advance(a.ppem, true, ' ')) - t.X(a.x);
            const std::u32string seenChars = Confusable(DecodeUtf8(reading.seen));
            for (const std::string& candidate : p.set) {
                std::string codePage;
                int inkLeft = 0, inkRight = 0;
                if (!Utf8ToWindows1252(candidate, codePage) || !m.fonts.InkExtent(a.ppem, true, codePage, inkLeft, inkRight))
                    continue;
                const int width = static_cast<int>(std::lround((inkRight - inkLeft) * t.sx));
                const std::u32string chars = Confusable(DecodeUtf8(candidate));
                if (std::abs(width - seenWidth) > std::max(20, seenWidth / 5) &&
                    DistanceToWords(seenChars, chars) > std::max(2, static_cast<int>(chars.size()) / 3))
                    continue;
                // The value is checked in its own columns and a blank around them; beyond, only
                // marks as tall as a letter count against it: specks of fax noise there are no
                // part of any value.
                const int from = t.X(a.x + inkLeft) + offset - blank, to = from + width + 2 * blank;
                const int score =
                    m.CheckInk(binary.Get(), t, a, codePage, offset, std::max(p.x0, from), p.y0, std::min(p.x1, to),
                               p.y1, inkNear) +
                    LetterInk(binary.Get(), p.x0, p.y0, p.x1, p.y1, from, to, a.ppem * 2 / 5);
                match.Offer(score, candidate);
            }
            reading.inkMismatch = match.best;
            if (match.ClearlyAhead(inkTolerance)) {
                reading.value = match.value;
                if (p.outsideSet) reading.confidence = kTextConfidence;
                reading.problem.clear();
            } else if (reading.problem.empty()) {
                reading.problem = match.best > inkTolerance
                                      ? Quoted(field, reading.seen) + "does not match the ink on the page"
                                      : Quoted(field, reading.seen) + "could as well be another of its values";
            }
        } else if (p.set.empty() && !p.outsideSet && !reading.seen.empty() && !p.printed.empty()) {
            // A text is drawn in the answer font where the layout put it and compared with the
            // ink: the reading is improved one character at a time while that explains the ink
            // clearly better, and then trusted only when it matches and no text one character
            // away comes close.
            const int offset = static_cast<int>(std::lround(shiftAt(t.X(a.x), p.y0)));
            // An answer that runs over a label is compared with the ink of both, the label drawn
            // where it was found.
            PIX* page = p.overflow ? original.Get() : binary.Get();
            PIX* around = p.overflow ? labels.Get() : nullptr;
            const int bx0 = std::max(0, p.x0), by0 = std::max(0, p.y0);
            BOX* box = boxCreate(bx0, by0, std::max(1, p.x1 - bx0), std::max(1, p.y1 - by0));
            CPix ink(pixClipRectangle(page, box, nullptr));
            CPix printedAround(around ? pixClipRectangle(around, box, nullptr) : nullptr);
            boxDestroy(&box);
            if (!ink) continue;
            auto set = glyphs.find(a.ppem);
            if (set == glyphs.end())
                set = glyphs.emplace(a.ppem, std::make_unique<CGlyphSet>(m.fonts, a.ppem, true, t.sx, t.sy)).first;
            const int penX = t.X(a.x) + offset - bx0, baseline = t.Y(a.y + a.metrics.ascent) - by0;
            CInkMatch match(*set->second, ink.Get(), false, printedAround.Get());
            match.Place(p.printed, penX, baseline, 5, 2);
            // "nein" for an earlier product is only checked: anything else there is a title.
            const bool noProduct = field.kind == FieldKind::PurchasedBefore && reading.value.empty();
            // On a fax the letters' edges are too coarse to overrule the recogniser letter by
            // letter where its reading matches the ink (the drawing made an "l" into a "!" where
            // the fax broke a stroke): there only a reading the ink rejects is improved, and by
            // blots, not edges.
            const bool fax = yres < 250;
            // The ink check of a text in this box; the same text comes up several times on the
            // way (reading, mend, spelling, the value kept), and a check costs dozens of placements.
            std::map<std::string, int> checked;
            const auto inkOf = [&](const std::string& text) {
                auto known = checked.find(text);
                if (known == checked.end())
                    known = checked
                                .emplace(text, m.CheckInk(page, t, a, text, offset, p.x0, p.y0, p.x1, p.y1, inkNear,
                                                          around))
                                .first;
                return known->second;
            };
            const bool date = field.kind == FieldKind::Date, mail = field.member == &RegistrationRecord::username;
            const int readingMismatch = inkOf(p.printed);
            const bool rejected = fax && readingMismatch > inkTolerance;
            // What the field can hold: a mend or a rival outside it is no reading (the drawing
            // made "Till" into "Til!" where the scan had run the two l together).
            const char* marks = field.member == &RegistrationRecord::vorname || field.member == &RegistrationRecord::nachname
                                    ? " -'."
                                : field.member == &RegistrationRecord::city ? " -'.()/"
                                                                            : nullptr;
            const bool password = field.member == &RegistrationRecord::password_1;
            // A street or town holds no digit between two small letters: that is a faxed sharp s
            // or a b ("Schlo8allee").
            const bool place = field.member == &RegistrationRecord::addr || field.member == &RegistrationRecord::city;
            const auto possible = [&](const std::string& edit) {
                if (marks && !NameLike(edit, marks)) return false;
                if (place && DigitInsideWord(edit)) return false;
                if (!password && MarkInsideWord(edit)) return false;
                return date ? ValidDate(edit) : mail ? PlausibleMail(edit) : true;
            };
            std::string best = p.printed;
            // A date holds only digits, which the drawing tells apart where the recogniser took
            // a faxed 5 for an 8: it is mended as on a scan, and a mend stays on the review list.
            if (!noProduct && (!fax || rejected || date)) {
                if (fax && !date) {
                    CInkMatch coarse(*set->second, ink.Get(), true, printedAround.Get());
                    coarse.Place(p.printed, penX, baseline, 5, 2);
                    best = coarse.Improve(p.printed, inkTolerance, 2, possible);
                } else {
                    best = match.Improve(p.printed, inkMargin / 2, 3, possible);
                }
                // A drawing that the ink still rejects says nothing better than the reading did
                // (the page may be placed wrong): the reading stands, for a person to look at.
                // An answer over a label goes to a person anyway; there a mend that explains
                // the ink clearly better is kept (the label's drawing never fits its ink quite).
                const int mended = inkOf(best);
                if (mended > inkTolerance && !(p.overflow && mended + inkTolerance < readingMismatch)) {
                    best = p.printed;
                    match.Place(best, penX, baseline, 5, 2);
                }
            }
            if (!noProduct && !password) {
                // A reading the ink still rejects (the recogniser cut "Till" to "Ti") is spelt
                // from the ink letter by letter; that is taken when it matches, or when it
                // explains the ink several times better than a reading placed wrong by a letter
                // too many (a speck read as an umlaut): then a person still looks at it.
                if (inkOf(best) > inkTolerance) {
                    match.Place(best, penX, baseline, 5, 2);
                    const std::string spelt = match.Spell(true);
                    if (!spelt.empty() && spelt.back() != ' ' && spelt.find("  ") == std::string::npos &&
                        possible(spelt) && (inkOf(spelt) <= inkTolerance || 4 * inkOf(spelt) < inkOf(best)) &&
                        match.Margin(spelt, best, penX, baseline) > 0)
                        best = spelt;
                    match.Place(best, penX, baseline, 5, 2);
                }
            }
            // A small i and an l differ on the page only in the gap under the i's dot, which a
            // comparison that forgives every edge by a pixel cannot see and a recogniser guesses
            // at from the word: where the ink shows the gap, or a stroke inked through, that
            // settles the letter. (At a fax's standard resolution the gap is under a pixel and
            // tells nothing.)
            const auto settleDots = [&] {
                // A text the ink rejects in a few places (a speck, a letter) still stands on its
                // strokes; one it rejects wholesale stands where the page has other letters.
                if (noProduct || yres < 150 || inkOf(best) > 8 * inkTolerance) return;
                match.Place(best, penX, baseline, 5, 2);
                std::string settled = best;
                for (std::size_t k = 0; k < best.size(); ++k) {
                    // A speck beside the stem makes an i into an f or t for the drawing, but
                    // neither has a gap across its stem.
                    if (!best[k] || !std::strchr("ilIft!", best[k])) continue;
                    const int gap = match.StrokeGap(best, k);
                    // A fax may break a t's stem below its bar; the bar still says t.
                    if (gap > 0 && best[k] != '!' && ((best[k] != 't' && best[k] != 'f') || !match.BarBeside(best, k)))
                        settled[k] = 'i';
                    // A ! has its gap over the dot at the baseline: one inked through is an l.
                    if (gap < 0 && (best[k] == 'i' || best[k] == '!')) settled[k] = 'l';
                    // A speck beside an l makes it a t or an f: their bar also reaches left.
                    if (gap < 0 && (best[k] == 't' || best[k] == 'f') && !match.BarBeside(best, k)) settled[k] = 'l';
                }
                if (settled != best && possible(settled)) {
                    best = settled;
                    match.Place(best, penX, baseline, 5, 2);
                }
            };
            bool doubtful = false, readingDoubtful = false;
            std::string reading1 = p.printed;  // the reading, its I and l settled as the mend's
            if (field.kind == FieldKind::Text && !password) {
                best = SettleOneStroke(best, mail, doubtful);
                reading1 = SettleOneStroke(p.printed, mail, readingDoubtful);
            }
            if (best != reading1 && ((possible(reading1) && !possible(best)) ||
                                     match.Margin(best, reading1, penX, baseline) < 0)) {
                // A mend that breaks the field's form, or that the pixels only one of the two
                // drawings covers reject (it followed edges): the reading stands.
                best = reading1;
                doubtful = readingDoubtful;
                match.Place(best, penX, baseline, 5, 2);
            }
            // The strokes are looked at after that: where a speck decides between two drawings
            // ("baerbef" for "baerbel"), the gap and the bar still tell the letter.
            if (!password) {
                settleDots();
                if (field.kind == FieldKind::Text) best = SettleOneStroke(best, mail, doubtful);
            } else {
                // No word tells the recogniser a password's letters, and it often puts in or
                // drops one: the letters that explain the ink one by one are taken instead when
                // they match it better.
                match.Place(best, penX, baseline, 5, 2);
                const std::string spelt = match.Spell(false);
                if (!spelt.empty() && spelt != best && inkOf(spelt) < inkOf(best) &&
                    match.Margin(spelt, best, penX, baseline) > 0)
                    best = spelt;
                settleDots();
                // Nothing around a password tells an I from an l; only the stroke's height does,
                // by a pixel or two: the taller one is stored, and a person still confirms it.
                match.Place(best, penX, baseline, 5, 2);
                best = match.SettleByHeight(best);
            }
            // An address the ink rejects, whose top-level domain does not exist, lost a letter
            // (at the page's edge, as a rule): the existing one a letter away is taken when the
            // ink explains it better, and a person confirms it. (A domain the list does not know
            // that the ink bears out stays as it is.)
            std::string madeUp;
            if (mail && PlausibleMail(best) && !KnownTopLevel(best) && inkOf(best) > inkTolerance) {
                std::string nearest;
                for (const std::string& near : NearTopLevels(best))
                    if (nearest.empty() || inkOf(near) < inkOf(nearest)) nearest = near;
                if (!nearest.empty() && inkOf(nearest) < inkOf(best)) {
                    madeUp = best.substr(best.rfind('.'));
                    best = nearest;
                    match.Place(best, penX, baseline, 5, 2);
                }
            }
            CInkMatch::Rival rival =
                match.Closest(best, possible, password);
            bool nearNo = false;
            if (field.kind == FieldKind::PurchasedBefore && !noProduct &&
                Distance(DecodeUtf8(Windows1252ToUtf8(best)), DecodeUtf8(no)) <= 2) {
                // The usual answer there is "nein", and a coarse fax can make it "nem" (the i's
                // dot lost) so that the ink prefers the wrong text: a title that near it is
                // taken for "nein" (no earlier product), for a person to confirm.
                nearNo = true;
            }
            reading.rivalMargin = rival.margin;
            reading.inkMismatch = inkOf(best);
            if (best != p.printed) {
                reading.value = Windows1252ToUtf8(best);
                // On a fax a reading the drawing mended stays for a person to confirm.
                bool ignored = false;
                reading.problem = fax && SettleOneStroke(p.printed, mail, ignored) != best
                                      ? (IsSecretField(field.member) ? "mended by its drawing"
                                                                     : "read as \"" + reading.seen + "\", mended by its drawing")
                                      : std::string();
                if (date && !ValidDate(reading.value))
                    reading.problem = Quoted(field, reading.value) + "is no date";
                else if (mail && !PlausibleMail(reading.value))
                    reading.problem = Quoted(field, reading.value) + "is no e-mail address";
            }
            if (reading.inkMismatch > inkTolerance)
                reading.problem = Quoted(field, reading.value) + "does not match the ink on the page";
            else if (!rival.text.empty() && rival.margin < (best == p.printed && !p.unsure ? 1 : inkMargin))
                reading.problem = IsSecretField(field.member)
                                      ? "could as well be another text one letter apart"
                                      : "\"" + reading.value + "\" could as well be \"" + Windows1252ToUtf8(rival.text) + "\"";
            else if (doubtful)
                reading.problem = Quoted(field, reading.value) + "has an I or l that only its context tells";
            else if (p.unsure && reading.problem.rfind("unsure", 0) == 0)
                reading.problem.clear();
            if (reading.problem.empty() && password)
                reading.problem = OneStrokeInPassword(reading.value);
            // Nothing but the ink tells a password's letters, and a fax blurs some of them into
            // others (a 6 into a sharp s): a person confirms every password read from a fax.
            if (reading.problem.empty() && password && fax)
                reading.problem = "password read from a fax";
            if (!madeUp.empty())
                reading.problem = "\"" + madeUp + "\" is no top-level domain, taken as \"" +
                                  best.substr(best.rfind('.')) + "\"";
            if (p.overflow) reading.problem = "runs over the printed text beside it";
            if (nearNo) {
                reading.value.clear();
                reading.problem = "\"" + reading.seen + "\" taken for \"" + no + "\"";
            }
        }
        if (!reading.problem.empty()) {
            reading.confidence = std::min(reading.confidence, kTextConfidence - 1);
            result.problems.push_back(std::string(field.name) + ": " + reading.problem);
        }
        result.record.*field.member = reading.value;
    }
    result.record.password_2 = result.record.password_1;
    return result;
}

std::string SheetDedupKey(const RegistrationRecord& record) {
    // FNV-1a over every printed field: the same answers give the same key on every run.
    std::uint64_t hash = 1469598103934665603ull;
    for (int i = 0; i < kSheetFieldCount; ++i) {
        for (unsigned char c : record.*kSheetFields[i].member) hash = (hash ^ c) * 1099511628211ull;
        hash = (hash ^ 0x1f) * 1099511628211ull;
    }
    char key[40];
    std::snprintf(key, sizeof key, "sheet:%016llx", static_cast<unsigned long long>(hash));
    return key;
}

}  // namespace sheet
