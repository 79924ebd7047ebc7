// The station's rules and handlers.
#include "desk/web/Station.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <set>
#include <cstdlib>
#include <ctime>

#include "desk/Clerks.h"
#include "desk/Export.h"
#include "desk/FieldLabels.h"
#include "desk/web/DoubtWords.h"

namespace desk::web {

namespace {

constexpr int kQueueRows = 200;
constexpr int kSearchRows = 100;
constexpr std::size_t kMaxQuery = 200;

// The name the session of a station without accounts is kept under: no account can have it.
const char kLocalClerk[] = "(lokal)";

std::string Received(const StoredRegistration& r) {
    return r.receivedAt.empty() ? "unbekannt" : r.receivedAt;
}

std::string JoinReasons(const std::vector<Doubt>& doubts) {
    std::string joined;
    for (const Doubt& doubt : doubts) joined += (joined.empty() ? "" : "; ") + DoubtSummary(doubt);
    return joined;
}

Data Row(const StoredRegistration& r) {
    Data row;
    row.set("id", std::to_string(r.id));
    row.set("received", Received(r));
    row.set("channel", r.channel);
    row.set("name", r.record.vorname + " " + r.record.nachname);
    row.set("place", r.record.zip + " " + r.record.city);
    row.set("email", r.record.username);
    row.set("article", r.record.gprod);
    row.set("reasons", JoinReasons(r.doubts));
    return row;
}

Data Rows(const std::vector<StoredRegistration>& registrations) {
    Data rows{Data::type::list};
    for (const StoredRegistration& r : registrations) rows.push_back(Row(r));
    return rows;
}

bool ParseId(const std::string& text, std::int64_t& id) {
    if (text.empty() || text.size() > 18) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    id = std::strtoll(text.c_str(), nullptr, 10);
    return true;
}

// "14:05 UTC" of a Unix time.
std::string ClockTime(std::int64_t unixSeconds) {
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm tm = {};
    gmtime_r(&t, &tm);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M UTC", &tm);
    return text;
}

// Rivals offered per field: one digit key each.
constexpr std::size_t kMaxRivals = 9;

Reply PngReply(std::string png) {
    Reply reply;
    reply.contentType = "image/png";
    reply.body = std::move(png);
    return reply;
}

std::string Seconds(Clock::duration wait) {
    return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(wait + std::chrono::milliseconds(999)).count());
}

}  // namespace

CStation::CStation(CReviewDesk& desk, const StationOptions& options)
    : desk_(desk),
      options_(options),
      hostRules_(options.listenHost, options.port, options.hosts, options.secureCookies),
      sessions_(options.idle, options.absolute, 1000),
      throttle_(options.throttle) {
    if (options.oneTimeToken) oneTime_ = std::make_unique<COneTimeToken>();
    // One handler per page and action.
    auto bind = [this](Reply (CStation::*handler)(const CRequest&)) {
        return [this, handler](const CRequest& request) { return (this->*handler)(request); };
    };
    router_.Add("GET", "/", bind(&CStation::Queue));
    router_.Add("GET", "/queue.json", bind(&CStation::QueueCount));
    router_.Add("GET", "/registration", [this](const CRequest& r) { return Registration(r, false); });
    router_.Add("POST", "/registration/passwords", [this](const CRequest& r) { return Registration(r, true); });
    router_.Add("POST", "/registration/save", bind(&CStation::Save));
    router_.Add("POST", "/next", bind(&CStation::Next));
    router_.Add("POST", "/registration/reserve", bind(&CStation::Reserve));
    router_.Add("GET", "/field-image", bind(&CStation::FieldImage));
    router_.Add("GET", "/page-image", bind(&CStation::PageImage));
    router_.Add("GET", "/search", bind(&CStation::Search));
    router_.Add("GET", "/export", bind(&CStation::ExportPage));
    router_.Add("POST", "/export", bind(&CStation::Export));
    router_.Add("POST", "/logout", bind(&CStation::Logout));
}

std::string CStation::StartAddress() const {
    const bool v6 = options_.listenHost.find(':') != std::string::npos;
    const std::string base = "http://" + (v6 ? "[" + options_.listenHost + "]" : options_.listenHost) + ":" +
                             std::to_string(options_.port) + "/";
    return oneTime_ ? base + "auth?token=" + oneTime_->Text() : base;
}

Reply CStation::Dispatch(CRequest request) {
    // A name this station does not answer to is a rebound DNS name or a confused proxy.
    if (!hostRules_.HostAllowed(request.Header("host")))
        return respond_.Error(request, 421, "Diese Adresse bedient velkdesk nicht.");
    if (request.path.rfind("/static/", 0) == 0 && request.method == "GET") return respond_.Static(request);
    const bool post = request.method == "POST";
    if (post && !hostRules_.OriginAllowed(request.Header("origin"), request.Header("referer")))
        return respond_.Error(request, 403, "Diese Anfrage kam nicht von einer Seite von velkdesk.");
    if (request.formMalformed) return respond_.Error(request, 400, "Das Formular ist fehlerhaft.");

    if (request.path == "/login") {
        if (post) return Login(request);
        if (request.method == "GET") return LoginPage(request);
    }
    if (request.path == "/auth" && request.method == "GET") return Redeem(request);

    const std::optional<CSessions::Session> session = sessions_.Touch(request.Cookie(kSessionCookie), Clock::now());
    if (!session) {
        if (request.method == "GET") return respond_.Redirect("/login");
        return respond_.Error(request, 403, "Bitte melden Sie sich an.");
    }
    // A removed account's sessions end with it.
    if (CClerks::ValidName(session->clerk) && !desk_.ClerkHash(session->clerk)) {
        sessions_.CloseClerk(session->clerk);
        return request.method == "GET" ? respond_.Redirect("/login") : respond_.Error(request, 403, "Bitte melden Sie sich an.");
    }
    request.clerk = session->clerk;
    request.csrf = session->csrf;
    // Every state change carries the session's token: a page of another site cannot know it.
    if (post && !SameToken(request.Form("token"), session->csrf))
        return respond_.Error(request, 403, "Die Anfrage trägt nicht das Zeichen dieser Sitzung; nichts wurde geändert.");
    bool pathKnown = false;
    const Handler* handler = router_.Find(request.method, request.path, pathKnown);
    if (!handler) return respond_.Error(request, pathKnown ? 405 : 404, "Diese Seite gibt es nicht.");
    return (*handler)(request);
}

Reply CStation::WithSession(Reply reply, const std::string& clerk) {
    const std::string id = sessions_.Open(clerk, Clock::now());
    reply.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) + "=" + id +
                                                 "; Path=/; HttpOnly; SameSite=Strict" +
                                                 (options_.secureCookies ? "; Secure" : ""));
    return reply;
}

Reply CStation::LoginForm(const CRequest& request, const std::string& name, const std::string& message, int status) {
    Data data;
    data.set("name", name);
    if (!message.empty()) data.set("message", message);
    if (oneTime_ && !desk_.AnyClerk()) data.set("noAccounts", true);
    return respond_.Page(request, "login", "Anmelden", data, status);
}

Reply CStation::LoginPage(const CRequest& request) {
    return LoginForm(request, std::string(), std::string(), 200);
}

Reply CStation::Login(const CRequest& request) {
    const std::string& name = request.Form("name");
    const std::string& password = request.Form("password");
    const Clock::duration wait = throttle_.Wait(name, request.peerAddress, Clock::now());
    if (wait > Clock::duration::zero())
        return LoginForm(request, CClerks::ValidName(name) ? name : std::string(),
                         "Zu viele Fehlversuche. Bitte versuchen Sie es in " + Seconds(wait) + " Sekunden wieder.",
                         429);
    // An unknown name costs the same as a wrong password, so names cannot be told apart.
    static const std::string kDummy = CClerks::HashPassword("no clerk has this password");
    const std::optional<std::string> hash = CClerks::ValidName(name) ? desk_.ClerkHash(name) : std::nullopt;
    if (!passwordChecks_.Enter(std::chrono::seconds(10)))
        return LoginForm(request, std::string(), "Zu viele Anmeldungen auf einmal. Bitte gleich noch einmal.", 503);
    const bool good = CClerks::Verify(hash ? *hash : kDummy, password) && hash;
    passwordChecks_.Leave();
    if (!good) {
        throttle_.Failed(name, request.peerAddress, Clock::now());
        return LoginForm(request, CClerks::ValidName(name) ? name : std::string(), "Name oder Passwort ist falsch.", 403);
    }
    throttle_.Succeeded(name);
    return WithSession(respond_.Redirect("/"), name);
}

Reply CStation::Redeem(const CRequest& request) {
    // The token opens one session, once; the redirect takes it out of the address bar.
    if (!oneTime_ || !oneTime_->Redeem(request.Query("token")))
        return respond_.Error(request, 403, "Dieser Zugangslink gilt nicht (mehr). Starten Sie velkdesk serve neu "
                                            "oder melden Sie sich mit einem Konto an.");
    return WithSession(respond_.Redirect("/"), kLocalClerk);
}

Reply CStation::Logout(const CRequest& request) {
    sessions_.Close(request.Cookie(kSessionCookie));
    desk_.EndLeases(request.clerk);
    Reply reply = respond_.Redirect("/login");
    reply.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict" +
                                                 (options_.secureCookies ? "; Secure" : ""));
    return reply;
}

Reply CStation::Queue(const CRequest& request) {
    const CReviewDesk::Queue queue = desk_.ReviewQueue(kQueueRows);
    Data data;
    data.set("count", std::to_string(queue.count));
    data.set("countWord", queue.count == 1 ? "Registrierung ist" : "Registrierungen sind");
    data.set("any", !queue.oldest.empty());
    data.set("more", queue.count > static_cast<std::int64_t>(queue.oldest.size()));
    data.set("shown", std::to_string(queue.oldest.size()));
    Data rows{Data::type::list};
    for (const StoredRegistration& r : queue.oldest) {
        Data row = Row(r);
        const auto held = queue.heldBy.find(r.id);
        if (held != queue.heldBy.end()) row.set("heldBy", held->second);
        rows.push_back(row);
    }
    data.set("rows", rows);
    // Sent here when nothing was free; with nothing left at all the queue says so itself.
    if (request.Query("none") == "1" && queue.count > 0) data.set("noneFree", true);
    return respond_.Page(request, "queue", "Warteschlange", data);
}

Reply CStation::QueueCount(const CRequest&) {
    return respond_.Json(nlohmann::json{{"count", desk_.ReviewCount()}}.dump());
}

Reply CStation::Registration(const CRequest& request, bool revealPasswords) {
    std::int64_t id = 0;
    if (!ParseId(revealPasswords ? request.Form("id") : request.Query("id"), id))
        return respond_.Error(request, 400, "Keine gültige Nummer einer Registrierung.");
    const std::optional<StoredRegistration> r = desk_.Find(id);
    if (!r) return respond_.Error(request, 404, "Diese Registrierung gibt es nicht.");
    std::int64_t done = 0;
    std::string message;
    if (request.Query("saved") == "1") message = "Gespeichert.";
    else if (ParseId(request.Query("done"), done))
        message = "Registrierung " + std::to_string(done) + " ist erledigt. Hier die nächste.";
    return RegistrationPage(request, *r, revealPasswords, message, {}, 200);
}

Reply CStation::RegistrationPage(const CRequest& request, const StoredRegistration& r, bool revealPasswords,
                                 const std::string& message, const std::vector<FieldChange>& entered, int status) {
    Data data;
    data.set("id", std::to_string(r.id));
    data.set("received", Received(r));
    data.set("channel", r.channel);
    // A sheet's place in its file is stored as "page N".
    const std::string place = r.sourceRef.rfind("page ", 0) == 0 ? "Seite " + r.sourceRef.substr(5) : r.sourceRef;
    data.set("source", place.empty() ? r.sourceFile : r.sourceFile + " " + place);
    data.set("imported", r.importedAt);
    if (!message.empty()) data.set("message", message);
    // Doubts about the record as a whole are listed on their own; any save settles them.
    std::map<std::string, std::vector<std::size_t>> doubtsOf;
    Data reasons{Data::type::list};
    bool anyReason = false;
    std::vector<int> pages;
    for (std::size_t i = 0; i < r.doubts.size(); ++i) {
        const Doubt& doubt = r.doubts[i];
        doubtsOf[doubt.field].push_back(i);
        if (doubt.page > 0 && std::find(pages.begin(), pages.end(), doubt.page) == pages.end()) pages.push_back(doubt.page);
        bool ofField = false;
        for (const FieldLabel& field : SheetFieldLabels()) ofField = ofField || doubt.field == field.name;
        if (ofField) continue;
        Data item;
        // An element the record should not hold is named as the mail had it (printable already).
        const bool element = doubt.field != "new" && doubt.field != "version" && doubt.field != "mail";
        item.set("text", std::string(DoubtHeading(doubt.kind)) + ": " + DoubtSentence(doubt, std::string(), false) +
                             (element ? " (" + doubt.field + ")" : std::string()));
        reasons.push_back(item);
        anyReason = true;
    }
    data.set("anyReason", anyReason);
    data.set("anyDoubt", !r.doubts.empty());
    data.set("reasons", reasons);
    data.set("doubtCount", std::to_string(r.doubts.size()));
    std::sort(pages.begin(), pages.end());
    Data pageLinks{Data::type::list};
    for (int page : pages) {
        Data item;
        item.set("page", std::to_string(page));
        item.set("href", "/page-image?reg=" + std::to_string(r.id) + "&page=" + std::to_string(page));
        pageLinks.push_back(item);
    }
    data.set("anyPage", !pages.empty());
    data.set("pages", pageLinks);
    if (const std::optional<Lease> lease = desk_.LeaseOf(r.id)) {
        data.set("leased", true);
        data.set("leaseMine", lease->clerk == request.clerk);
        data.set("leaseClerk", lease->clerk);
        data.set("leaseUntil", ClockTime(lease->expiresAt));
    }
    std::map<std::string, std::string> labels;
    std::map<std::string, bool> secret;
    Data fields{Data::type::list};
    bool anySecret = false, focused = false;
    // A doubt about a hidden password can only be settled once the passwords are shown: then
    // the button that shows them comes first, so that Enter goes there.
    bool revealFirst = false;
    for (const FieldLabel& field : SheetFieldLabels())
        revealFirst = revealFirst || (field.secret && !revealPasswords && !(r.record.*field.member).empty() &&
                                      doubtsOf.count(field.name));
    for (const FieldLabel& field : SheetFieldLabels()) {
        labels[field.name] = field.label;
        secret[field.name] = field.secret;
        const std::string& value = r.record.*field.member;
        Data item;
        item.set("name", field.name);
        item.set("label", field.label);
        const bool hidden = field.secret && !revealPasswords && !value.empty();
        anySecret = anySecret || (field.secret && !value.empty());
        item.set("hidden", hidden);
        if (!hidden) item.set("value", value);
        const auto found = doubtsOf.find(field.name);
        if (found != doubtsOf.end()) {
            item.set("doubtful", true);
            // The first doubtful field the clerk can edit takes the focus.
            if (!hidden && !focused && !revealFirst) {
                item.set("first", true);
                focused = true;
            }
            Data said{Data::type::list};
            Data rivals{Data::type::list};
            std::vector<std::string> offered;
            std::string image;
            for (std::size_t index : found->second) {
                const Doubt& doubt = r.doubts[index];
                Data words;
                words.set("kind", DoubtHeading(doubt.kind));
                words.set("message", DoubtSentence(doubt, value, field.secret));
                if (doubt.page > 0) words.set("page", std::to_string(doubt.page));
                said.push_back(words);
                for (const std::string& rival : doubt.rivals) {
                    if (offered.size() >= kMaxRivals || rival == value ||
                        std::find(offered.begin(), offered.end(), rival) != offered.end())
                        continue;
                    offered.push_back(rival);
                    Data offer;
                    offer.set("number", std::to_string(offered.size()));
                    offer.set("rival", rival);
                    rivals.push_back(offer);
                }
                // A secret's ink is shown only with the secret itself.
                if (image.empty() && doubt.page > 0 && !doubt.box.Empty() && !hidden)
                    image = "/field-image?reg=" + std::to_string(r.id) + "&doubt=" + std::to_string(index);
            }
            item.set("doubts", said);
            item.set("anyRival", !offered.empty());
            item.set("rivals", rivals);
            if (!image.empty()) item.set("image", image);
        }
        fields.push_back(item);
    }
    data.set("fields", fields);
    data.set("canReveal", anySecret && !revealPasswords);
    data.set("revealFirst", revealFirst);
    Data yours{Data::type::list};
    for (const FieldChange& change : entered) {
        if (change.newValue == change.oldValue) continue;
        Data item;
        item.set("label", labels[change.field]);
        item.set("value", secret[change.field] && !revealPasswords ? std::string("(verborgen)") : change.newValue);
        yours.push_back(item);
    }
    data.set("anyEntered", !entered.empty());
    data.set("entered", yours);
    Data corrections{Data::type::list};
    const std::vector<Correction> made = desk_.Corrections(r.id);
    for (const Correction& c : made) {
        Data item;
        item.set("at", c.at);
        item.set("clerk", c.clerk);
        item.set("label", labels.count(c.field) ? labels[c.field] : c.field);
        const bool hide = secret[c.field] && !revealPasswords;
        item.set("old", hide ? std::string("(verborgen)") : c.oldValue);
        item.set("new", hide ? std::string("(verborgen)") : c.newValue);
        item.set("settled", c.doubtMessage);
        corrections.push_back(item);
    }
    data.set("anyCorrection", !made.empty());
    data.set("corrections", corrections);
    // A mail's record as it came, its secrets masked just as their fields are.
    const StoredRecordText text = desk_.RecordText(r.id).value_or(StoredRecordText());
    data.set("anyRecordText", !text.text.empty());
    if (!text.text.empty()) {
        data.set("recordText", revealPasswords ? text.text : MaskSecrets(text.text, r.record));
        if (text.Cut()) {
            data.set("recordTextCut", true);
            data.set("recordTextKept", std::to_string(text.text.size() >> 10));
            data.set("recordTextSize", std::to_string((text.size + 1023) >> 10));
        }
    }
    return respond_.Page(request, "registration", "Registrierung " + std::to_string(r.id), data, status);
}

Reply CStation::Next(const CRequest& request) {
    std::int64_t after = 0;
    if (!request.Form("after").empty() && !ParseId(request.Form("after"), after))
        return respond_.Error(request, 400, "Keine gültige Nummer einer Registrierung.");
    const std::optional<std::int64_t> id = desk_.Next(request.clerk, after);
    if (!id) return respond_.Redirect("/?none=1");
    return respond_.Redirect("/registration?id=" + std::to_string(*id));
}

Reply CStation::Reserve(const CRequest& request) {
    std::int64_t after = 0;
    if (!ParseId(request.Form("after"), after)) return respond_.Error(request, 400, "Keine gültige Nummer einer Registrierung.");
    // Nothing is reserved beside a registration another clerk holds: its save would be refused.
    const std::optional<Lease> held = desk_.LeaseOf(after);
    std::optional<std::int64_t> id;
    if (!held || held->clerk == request.clerk) id = desk_.Reserve(request.clerk, after);
    const std::optional<StoredRegistration> r = id ? desk_.Find(*id) : std::nullopt;
    if (!r) {
        Reply none;
        none.status = 204;
        return none;
    }
    // Its field pictures are cut now too, so they come at once when the page is shown.
    std::set<int> cut;
    for (std::size_t i = 0; i < r->doubts.size(); ++i)
        if (r->doubts[i].page > 0 && !r->doubts[i].box.Empty() && cut.insert(r->doubts[i].page).second)
            FieldPicture(*r, i);
    return RegistrationPage(request, *r, false,
                            "Registrierung " + std::to_string(after) + " ist erledigt. Hier die nächste.", {}, 200);
}

Reply CStation::Save(const CRequest& request) {
    std::int64_t id = 0;
    if (!ParseId(request.Form("id"), id)) return respond_.Error(request, 400, "Keine gültige Nummer einer Registrierung.");
    // The page's script asks for JSON: where to go on, or that nothing was saved (it then sends
    // the plain form, whose answer shows why). `next` is the registration it has ready.
    const bool json = request.Header("accept") == "application/json";
    std::int64_t reserved = 0;
    const bool haveReserved = json && ParseId(request.Form("next"), reserved);
    // Each shown field comes back twice: as the clerk saw it (o_) and as it is now (f_). A
    // field left out (a hidden password) is not touched.
    std::vector<FieldChange> changes;
    for (const FieldLabel& field : SheetFieldLabels()) {
        const auto seen = request.form.find(std::string("o_") + field.name);
        const auto now = request.form.find(std::string("f_") + field.name);
        if (seen == request.form.end() || now == request.form.end()) continue;
        // A rival's button (without the page's script) takes the rival for its field.
        const auto rival = request.form.find(std::string("r_") + field.name);
        changes.push_back({field.name, seen->second, rival != request.form.end() ? rival->second : now->second});
    }
    const CorrectOutcome outcome = desk_.Correct(id, request.clerk, changes);
    if (json && outcome != CorrectOutcome::Saved) return respond_.Json(nlohmann::json{{"saved", false}}.dump());
    if (outcome == CorrectOutcome::Saved) {
        // Settled: on to the next registration at once, the one the page has ready if it is still
        // the clerk's. Doubts left (a hidden password's): back to it.
        std::string location;
        std::optional<std::int64_t> next;
        const std::optional<StoredRegistration> saved = desk_.Find(id);
        if (saved && !saved->doubts.empty()) {
            location = "/registration?id=" + std::to_string(id) + "&saved=1";
        } else {
            if (haveReserved && reserved != id && desk_.LeaseChosen(request.clerk, reserved)) next = reserved;
            else next = desk_.Next(request.clerk, id);
            location = next ? "/registration?id=" + std::to_string(*next) + "&done=" + std::to_string(id) : "/?none=1";
        }
        if (!json) return respond_.Redirect(location);
        nlohmann::json answer{{"saved", true}, {"location", location}, {"next", nullptr}};
        if (next) {
            answer["next"] = *next;
            if (const std::optional<Lease> lease = desk_.LeaseOf(*next)) answer["leaseUntil"] = ClockTime(lease->expiresAt);
        }
        return respond_.Json(answer.dump());
    }
    if (outcome == CorrectOutcome::Missing || outcome == CorrectOutcome::Invalid)
        return respond_.Error(request, outcome == CorrectOutcome::Missing ? 404 : 400, "Diese Registrierung gibt es nicht.");
    const std::optional<StoredRegistration> current = desk_.Find(id);
    if (!current) return respond_.Error(request, 404, "Diese Registrierung gibt es nicht.");
    const std::string message =
        outcome == CorrectOutcome::Leased
            ? "Nicht gespeichert: jemand anderes bearbeitet diese Registrierung gerade."
            : "Nicht gespeichert: die Registrierung wurde inzwischen geändert. Hier die aktuellen Werte; "
              "Ihre Eingaben stehen darunter.";
    return RegistrationPage(request, *current, false, message, changes, 409);
}

Reply CStation::FieldImage(const CRequest& request) {
    std::int64_t id = 0, index = 0;
    if (!ParseId(request.Query("reg"), id) || !ParseId(request.Query("doubt"), index))
        return respond_.Error(request, 400, "Keine gültige Nummer einer Registrierung.");
    const std::optional<StoredRegistration> r = desk_.Find(id);
    if (!r || index >= static_cast<std::int64_t>(r->doubts.size()))
        return respond_.Error(request, 404, "Dieses Feld gibt es nicht (mehr).");
    std::optional<std::string> png = FieldPicture(*r, static_cast<std::size_t>(index));
    if (!png) return respond_.Error(request, 404, "Zu diesem Feld ist kein Bild gespeichert.");
    return PngReply(std::move(*png));
}

std::optional<std::string> CStation::FieldPicture(const StoredRegistration& r, std::size_t index) {
    const Doubt& doubt = r.doubts[index];
    if (doubt.page <= 0 || doubt.box.Empty()) return std::nullopt;
    const std::shared_ptr<CFieldPictures::Slot> slot = fields_.Find(r.id, doubt.page);
    std::lock_guard<std::mutex> lock(slot->mutex);
    if (!slot->pictures.count(CFieldPictures::Slot::Key(doubt.box))) {
        // Every field of this page still in doubt is cut now, from one decoding of their rows:
        // the page asks for their pictures one after another.
        std::vector<PageBox> boxes;
        for (const Doubt& other : r.doubts)
            if (other.page == doubt.page && !other.box.Empty() &&
                !slot->pictures.count(CFieldPictures::Slot::Key(other.box)))
                boxes.push_back(other.box);
        DecodedPage page = pages_.Find(r.id, doubt.page);
        if (!page) {
            const std::optional<StoredPage> stored = desk_.Page(r.id, doubt.page);
            if (stored) page = DecodePageRows(*stored, boxes);
        }
        for (const PageBox& box : boxes) {
            std::optional<std::string> cut = page ? FieldPng(*page, box) : std::nullopt;
            slot->bytes += cut ? cut->size() : 0;
            slot->pictures[CFieldPictures::Slot::Key(box)] = std::move(cut);
        }
        fields_.Account(slot, slot->bytes);
    }
    return slot->pictures[CFieldPictures::Slot::Key(doubt.box)];
}

Reply CStation::PageImage(const CRequest& request) {
    std::int64_t id = 0, number = 0;
    if (!ParseId(request.Query("reg"), id) || !ParseId(request.Query("page"), number) || number > 100000)
        return respond_.Error(request, 400, "Keine gültige Nummer einer Registrierung.");
    const DecodedPage page = Decoded(id, static_cast<int>(number));
    std::optional<std::string> png = page ? PagePng(*page) : std::nullopt;
    if (!png) return respond_.Error(request, 404, "Diese Seite ist nicht gespeichert.");
    return PngReply(std::move(*png));
}

DecodedPage CStation::Decoded(std::int64_t id, int page) {
    if (DecodedPage cached = pages_.Find(id, page)) return cached;
    const std::optional<StoredPage> stored = desk_.Page(id, page);
    DecodedPage decoded = stored ? DecodePage(*stored) : nullptr;
    if (decoded) pages_.Keep(id, page, decoded);
    return decoded;
}

Reply CStation::Search(const CRequest& request) {
    const std::string& query = request.Query("q");
    Data data;
    data.set("query", query.substr(0, kMaxQuery));
    if (!query.empty()) {
        const std::vector<StoredRegistration> rows = desk_.Search(query.substr(0, kMaxQuery), kSearchRows + 1);
        const bool more = rows.size() > static_cast<std::size_t>(kSearchRows);
        const std::vector<StoredRegistration> shown(rows.begin(), more ? rows.begin() + kSearchRows : rows.end());
        data.set("searched", true);
        data.set("count", std::to_string(shown.size()));
        data.set("more", more);
        data.set("any", !shown.empty());
        data.set("rows", Rows(shown));
    }
    return respond_.Page(request, "search", "Suche", data);
}

Reply CStation::ExportPage(const CRequest& request) {
    return respond_.Page(request, "export", "Export", Data());
}

Reply CStation::Export(const CRequest& request) {
    const bool withPasswords = request.Form("passwords") == "1";
    return respond_.Download(desk_.ExportCsv(withPasswords), "text/csv; charset=utf-8",
                             withPasswords ? "velkdesk-mit-passwoertern.csv" : "velkdesk.csv");
}

}  // namespace desk::web
