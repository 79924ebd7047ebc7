// The review station below the browser: request parsing over a real socket, the limits, the
// session, token, Origin and Host rules, the login slowdown, and the station's answers to
// requests as a hostile page or client would send them.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <leptonica/allheaders.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <ctime>
#include <map>
#include <thread>

#include "desk/Clerks.h"
#include "desk/ReviewDesk.h"
#include "desk/web/Auth.h"
#include "desk/web/Server.h"
#include "desk/sheet/PageImage.h"
#include "desk/sheet/StoredPageImage.h"
#include "desk/web/PageCut.h"
#include "desk/web/DoubtWords.h"
#include "desk/web/Station.h"
#include "tests/support/desk_fixture.h"

using namespace desk::web;
using std::chrono::minutes;
using std::chrono::seconds;

namespace {

// Sends `raw` to 127.0.0.1:`port` and returns all that comes back until the server closes
// (every request here asks it to, or is one it ends).
std::string Exchange(std::uint16_t port, const std::string& raw) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        send(fd, raw.data(), raw.size(), MSG_NOSIGNAL);
        char buffer[4096];
        for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    return answer;
}

std::string HeaderOf(const Reply& reply, const std::string& name) {
    for (const auto& header : reply.headers)
        if (header.first == name) return header.second;
    return std::string();
}

}  // namespace

TEST(WebRequest, FormsAreDecodedWithinTheirBounds) {
    Fields fields;
    EXPECT_TRUE(ParseUrlEncoded("name=Anna+Berg&pw=%3Cb%3E%26x&empty=&flag&name=second", kMaxFormFields, fields));
    EXPECT_EQ("Anna Berg", fields["name"]);  // the first of a repeated name counts
    EXPECT_EQ("<b>&x", fields["pw"]);
    EXPECT_EQ("", fields["empty"]);
    EXPECT_EQ(1u, fields.count("flag"));
    for (const char* broken : {"a=%", "a=%4", "a=%zz", "%g1=x"}) {
        Fields f;
        EXPECT_FALSE(ParseUrlEncoded(broken, kMaxFormFields, f)) << broken;
    }
    std::string many;
    for (int i = 0; i < 65; ++i) many += "f" + std::to_string(i) + "=1&";
    Fields f;
    EXPECT_FALSE(ParseUrlEncoded(many, 64, f));
    EXPECT_EQ(64u, f.size());
}

TEST(WebRequest, ListenAddressesAreParsedAndLoopbackIsKnown) {
    EXPECT_TRUE(ParseListenAddress("127.0.0.1:8080").loopback);
    EXPECT_TRUE(ParseListenAddress("127.3.0.1:80").loopback);
    EXPECT_TRUE(ParseListenAddress("localhost:0").loopback);
    const ListenAddress v6 = ParseListenAddress("[::1]:9000");
    EXPECT_TRUE(v6.loopback && v6.ipv6 && v6.host == "::1" && v6.port == 9000);
    EXPECT_FALSE(ParseListenAddress("0.0.0.0:8080").loopback);
    EXPECT_FALSE(ParseListenAddress("192.168.1.5:8080").loopback);
    EXPECT_FALSE(ParseListenAddress("[::]:8080").loopback);
    for (const char* bad : {"8080", "127.0.0.1:", "127.0.0.1:65536", "example.com:80", "[::1]8080", "::1:80", "1.2.3:80"})
        EXPECT_THROW(ParseListenAddress(bad), CServerError) << bad;
}

TEST(WebRequest, TheServerReadsARequestIntoPlainMembersAndKeepsItsLimits) {
    std::atomic<int> calls{0};
    CHttpServer server(ParseListenAddress("127.0.0.1:0"), ServerLimits(), [&calls](const CRequest& r) {
        ++calls;
        Reply reply;
        reply.contentType = "text/plain";
        reply.body = r.method + "|" + r.path + "|" + r.Header("x-probe") + "|" + r.Cookie("c") + "|" + r.Query("q") +
                     "|" + r.Form("f") + "|" + (r.formMalformed ? "bad" : "ok") + "|" + r.peerAddress;
        return reply;
    });
    ASSERT_NE(0, server.Port());
    const std::string got = Exchange(server.Port(),
                                     "POST /a%20b?q=%3Cx%3E HTTP/1.1\r\nHost: h\r\nX-Probe: Eins\r\nCookie: c=keks; d=2\r\n"
                                     "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 8\r\n"
                                     "Connection: close\r\n\r\nf=zwei+3");
    EXPECT_NE(std::string::npos, got.find("POST|/a b|Eins|keks|<x>|zwei 3|ok|127.0.0.1")) << got;
    // Every response carries the policy headers.
    for (const char* header : {"Content-Security-Policy: default-src 'none'; script-src 'self'", "X-Content-Type-Options: nosniff",
                               "Referrer-Policy: ", "Cache-Control: no-store"})
        EXPECT_NE(std::string::npos, got.find(header)) << header;

    const std::string json = Exchange(server.Port(), "POST / HTTP/1.1\r\nHost: h\r\nContent-Type: application/json\r\n"
                                                     "Content-Length: 2\r\nConnection: close\r\n\r\n{}");
    EXPECT_NE(std::string::npos, json.find("|bad|")) << json;

    const int before = calls.load();
    // A body announced too large is refused unread, a header too large too; neither reaches the handler.
    const std::string large = Exchange(server.Port(), "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 10000000\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(0u, large.rfind("HTTP/1.1 413", 0)) << large;
    const std::string longHeader =
        Exchange(server.Port(), "GET / HTTP/1.1\r\nHost: h\r\nConnection: close\r\nX-Long: " + std::string(100000, 'a') + "\r\n\r\n");
    EXPECT_EQ(0u, longHeader.rfind("HTTP/1.1 431", 0)) << longHeader.substr(0, 100);
    // A chunked body that grows past the bound ends the connection.
    std::string chunked = "POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (std::size_t i = 0; i < kMaxBodyBytes / 0x1000 + 4; ++i) chunked += "1000\r\n" + std::string(0x1000, 'x') + "\r\n";
    chunked += "0\r\n\r\n";
    EXPECT_EQ(std::string::npos, Exchange(server.Port(), chunked).find("HTTP/1.1 200"));
    EXPECT_EQ(before, calls.load());
}

TEST(WebAuth, SessionsExpireWhenIdleAndAtTheirAbsoluteEnd) {
    CSessions sessions(minutes(30), minutes(120), 3);
    const Clock::time_point t0 = Clock::now();
    const std::string id = sessions.Open("anna", t0);
    const std::optional<CSessions::Session> s = sessions.Touch(id, t0 + minutes(29));
    ASSERT_TRUE(s);
    EXPECT_EQ("anna", s->clerk);
    EXPECT_EQ(64u, s->csrf.size());
    EXPECT_NE(id, s->csrf);
    // Kept alive by use, but not beyond the absolute end.
    EXPECT_TRUE(sessions.Touch(id, t0 + minutes(58)));
    EXPECT_TRUE(sessions.Touch(id, t0 + minutes(87)));
    EXPECT_TRUE(sessions.Touch(id, t0 + minutes(116)));
    EXPECT_FALSE(sessions.Touch(id, t0 + minutes(121)));
    const std::string idle = sessions.Open("ben", t0);
    EXPECT_FALSE(sessions.Touch(idle, t0 + minutes(30)));
    EXPECT_FALSE(sessions.Touch("", t0));
    EXPECT_FALSE(sessions.Touch(id.substr(0, 63) + "0", t0));
    // Bounded: the least recently used session gives way.
    const std::string a = sessions.Open("a", t0), b = sessions.Open("b", t0 + seconds(1)), c = sessions.Open("c", t0 + seconds(2));
    sessions.Touch(a, t0 + seconds(3));
    sessions.Open("d", t0 + seconds(4));
    EXPECT_TRUE(sessions.Touch(a, t0 + seconds(5)));
    EXPECT_FALSE(sessions.Touch(b, t0 + seconds(5)));
    EXPECT_TRUE(sessions.Touch(c, t0 + seconds(5)));
    sessions.CloseClerk("c");
    EXPECT_FALSE(sessions.Touch(c, t0 + seconds(6)));
}

TEST(WebAuth, FailedLoginsWaitLongerPerNameAndPerAddress) {
    CLoginThrottle::Policy policy;
    policy.freeFailuresPerName = 1;
    policy.freeFailuresPerAddress = 3;
    policy.firstDelay = seconds(1);
    policy.maxDelay = seconds(8);
    policy.forget = minutes(10);
    CLoginThrottle throttle(policy);
    const Clock::time_point t0 = Clock::now();
    EXPECT_EQ(Clock::duration::zero(), throttle.Wait("anna", "10.0.0.1", t0));
    throttle.Failed("anna", "10.0.0.1", t0);
    EXPECT_EQ(Clock::duration::zero(), throttle.Wait("anna", "10.0.0.1", t0));  // one slip is free
    Clock::time_point t = t0;
    for (Clock::duration expected : {seconds(1), seconds(2), seconds(4), seconds(8), seconds(8)}) {
        throttle.Failed("anna", "10.0.0.2", t);
        EXPECT_EQ(expected, throttle.Wait("anna", "10.0.0.9", t));  // the name waits, from any address
        t += expected;
        EXPECT_EQ(Clock::duration::zero(), throttle.Wait("anna", "10.0.0.9", t));
    }
    // The address that guessed 5 times waits for any name; another name from elsewhere does not.
    throttle.Failed("x", "10.0.0.2", t);
    EXPECT_GT(throttle.Wait("ben", "10.0.0.2", t), Clock::duration::zero());
    EXPECT_EQ(Clock::duration::zero(), throttle.Wait("ben", "10.0.0.3", t));
    // Success forgets the name's failures; quiet time forgets everything.
    throttle.Succeeded("anna");
    throttle.Failed("anna", "10.0.0.4", t);
    EXPECT_EQ(Clock::duration::zero(), throttle.Wait("anna", "10.0.0.4", t));
    EXPECT_EQ(Clock::duration::zero(), throttle.Wait("x", "10.0.0.2", t + minutes(10)));
}

TEST(WebAuth, HostAndOriginMustBeThisStations) {
    const CHostRules rules("127.0.0.1", 8080, {"desk.example.de"}, false);
    for (const char* host : {"127.0.0.1:8080", "localhost:8080", "LOCALHOST:8080", "[::1]:8080", "desk.example.de",
                             "desk.example.de:8080"})
        EXPECT_TRUE(rules.HostAllowed(host)) << host;
    // A rebound name, another port, no Host at all.
    for (const char* host : {"evil.example:8080", "127.0.0.1:8081", "127.0.0.1", "", "localhost", "desk.example.de.evil:8080"})
        EXPECT_FALSE(rules.HostAllowed(host)) << host;
    EXPECT_TRUE(rules.OriginAllowed("http://127.0.0.1:8080", ""));
    EXPECT_TRUE(rules.OriginAllowed("http://desk.example.de", ""));
    EXPECT_TRUE(rules.OriginAllowed("", "http://localhost:8080/registration?id=1"));
    for (const char* origin : {"null", "https://127.0.0.1:8080", "http://127.0.0.1:8081", "http://evil.example"})
        EXPECT_FALSE(rules.OriginAllowed(origin, "http://127.0.0.1:8080/")) << origin;
    EXPECT_FALSE(rules.OriginAllowed("", "http://127.0.0.1:8080.evil.example/"));
    EXPECT_FALSE(rules.OriginAllowed("", ""));
    // Behind an HTTPS proxy only https origins count.
    const CHostRules https("127.0.0.1", 8080, {"desk.example.de"}, true);
    EXPECT_TRUE(https.OriginAllowed("https://desk.example.de", ""));
    EXPECT_FALSE(https.OriginAllowed("http://desk.example.de", ""));
}

TEST(WebAuth, PasswordChecksRunAtMostTwoAtOnce) {
    CConcurrencyLimit limit(2);
    EXPECT_TRUE(limit.Enter(seconds(0)));
    EXPECT_TRUE(limit.Enter(seconds(0)));
    EXPECT_FALSE(limit.Enter(std::chrono::milliseconds(20)));
    // A waiting check goes ahead as soon as one ends.
    std::thread ending([&limit] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        limit.Leave();
    });
    EXPECT_TRUE(limit.Enter(seconds(10)));
    ending.join();
    EXPECT_FALSE(limit.Enter(seconds(0)));
}

TEST(WebAuth, TheOneTimeTokenOpensOnce) {
    COneTimeToken token;
    EXPECT_EQ(64u, token.Text().size());
    EXPECT_FALSE(token.Redeem(""));
    EXPECT_FALSE(token.Redeem(token.Text().substr(1)));
    EXPECT_TRUE(token.Redeem(token.Text()));
    EXPECT_FALSE(token.Redeem(token.Text()));
    EXPECT_NE(COneTimeToken().Text(), token.Text());
}

// The station answering requests directly, as the server hands them over.
class StationTest : public DeskDbTest {
protected:
    void SetUp() override {
        DeskDbTest::SetUp();
        {
            desk::CDatabase db(db_.string());
            desk::CClerks(db).Add("anna", "Richtiges-Passwort");
            desk::Registration r;
            for (const MailElement& e : kMailElements) r.record.*e.field = std::string("<script>alert('") + e.name + "')</script>";
            r.record.password_1 = r.record.password_2 = "Kennwort-XY";
            r.channel = "fax";
            r.sourceFile = "<img src=x onerror=alert(1)>.pdf";
            r.sourceRef = "page 3";
            r.dedupKey = "k1";
            r.doubts = {desk::DoubtFromLine("zip: <b>could</b> be 60667")};
            r.doubts[0].kind = desk::DoubtKind::Rival;
            r.doubts[0].rivals = {"<b>60667</b>"};
            r.recordText = "<new>\n<vorname><script>alert('x')</script></vorname>\n<password_1>Kennwort-XY</password_1>\n";
            db.Add(r);
        }
        desk_ = std::make_unique<desk::CReviewDesk>(db_.string());
        options_.listenHost = "127.0.0.1";
        options_.port = 8080;
    }
    void TearDown() override {
        station_.reset();
        desk_.reset();
        DeskDbTest::TearDown();
    }
    CStation& Station() {
        if (!station_) station_ = std::make_unique<CStation>(*desk_, options_);
        return *station_;
    }
    CRequest Request(const std::string& method, const std::string& path) {
        CRequest r;
        r.method = method;
        r.path = path;
        r.headers["host"] = "127.0.0.1:8080";
        if (method == "POST") r.headers["origin"] = "http://127.0.0.1:8080";
        r.peerAddress = "127.0.0.1";
        if (!cookie_.empty()) r.cookies[CStation::kSessionCookie] = cookie_;
        return r;
    }
    Reply LogIn(const std::string& password) {
        CRequest r = Request("POST", "/login");
        r.form = {{"name", "anna"}, {"password", password}};
        Reply reply = Station().Dispatch(r);
        const std::string cookie = HeaderOf(reply, "Set-Cookie");
        const std::string prefix = std::string(CStation::kSessionCookie) + "=";
        if (cookie.rfind(prefix, 0) == 0) cookie_ = cookie.substr(prefix.size(), 64);
        return reply;
    }
    // The session's token, as the page's forms carry it.
    std::string Token() {
        const std::string page = Station().Dispatch(Request("GET", "/export")).body;
        const std::size_t at = page.find("name=\"token\" value=\"");
        return at == std::string::npos ? std::string() : page.substr(at + 20, 64);
    }

    std::unique_ptr<desk::CReviewDesk> desk_;
    std::unique_ptr<CStation> station_;
    StationOptions options_;
    std::string cookie_;
};

TEST_F(StationTest, AClerkLogsInAndEveryValueIsShownEscaped) {
    EXPECT_EQ(303, Station().Dispatch(Request("GET", "/")).status);  // to the login page
    EXPECT_EQ(403, LogIn("falsches-Passwort").status);
    EXPECT_TRUE(cookie_.empty());
    const Reply in = LogIn("Richtiges-Passwort");
    EXPECT_EQ(303, in.status);
    EXPECT_NE(std::string::npos, HeaderOf(in, "Set-Cookie").find("; HttpOnly; SameSite=Strict"));
    EXPECT_EQ(std::string::npos, HeaderOf(in, "Set-Cookie").find("Secure"));
    const Reply queue = Station().Dispatch(Request("GET", "/"));
    EXPECT_EQ(200, queue.status);
    EXPECT_NE(std::string::npos, queue.body.find("&lt;script&gt;alert(&apos;vorname&apos;)&lt;/script&gt;")) << queue.body;
    EXPECT_NE(std::string::npos, queue.body.find("<td>Postleitzahl: Mehrdeutig</td>")) << queue.body;
    const Reply page = Station().Dispatch([&] {
        CRequest r = Request("GET", "/registration");
        r.query["id"] = "1";
        return r;
    }());
    EXPECT_EQ(200, page.status);
    EXPECT_NE(std::string::npos, page.body.find(">Postleitzahl</label>"));
    EXPECT_NE(std::string::npos, page.body.find("k\xC3\xB6nnte auch \xE2\x80\x9E&lt;b&gt;60667&lt;/b&gt;"));
    EXPECT_NE(std::string::npos, page.body.find("&lt;img src=x onerror=alert(1)&gt;.pdf Seite 3"));
    // The record as the mail brought it, as text, its password masked like the password fields.
    EXPECT_NE(std::string::npos, page.body.find("<pre class=\"record-text\" id=\"record-text\">&lt;new&gt;\n&lt;vorname&gt;"
                                                "&lt;script&gt;alert(&apos;x&apos;)&lt;/script&gt;&lt;/vorname&gt;\n"
                                                "&lt;password_1&gt;(hidden)&lt;/password_1&gt;\n</pre>")) << page.body;
    EXPECT_EQ(std::string::npos, page.body.find("record-text-cut"));
    // Nothing a customer wrote reaches the page as markup, and the passwords stay hidden.
    for (const std::string& raw : {"<script>", "<b>60667", "<img", "Kennwort-XY"})
        EXPECT_EQ(std::string::npos, page.body.find(raw)) << raw;
    // Shown only on the clerk's request, by POST with the session's token.
    CRequest reveal = Request("POST", "/registration/passwords");
    reveal.form = {{"id", "1"}, {"token", Token()}};
    const Reply shown = Station().Dispatch(reveal);
    EXPECT_NE(std::string::npos, shown.body.find("Kennwort-XY"));
    EXPECT_NE(std::string::npos, shown.body.find("&lt;password_1&gt;Kennwort-XY&lt;/password_1&gt;"));
    EXPECT_EQ(std::string::npos, shown.body.find("<title>Registrierung 1 · velkdesk</title>Kennwort"));
}

TEST_F(StationTest, AStateChangeNeedsTheTokenAndThisStationsOrigin) {
    LogIn("Richtiges-Passwort");
    const std::string token = Token();
    ASSERT_EQ(64u, token.size());
    CRequest logout = Request("POST", "/logout");
    EXPECT_EQ(403, Station().Dispatch(logout).status);  // no token
    logout.form["token"] = std::string(64, '0');
    EXPECT_EQ(403, Station().Dispatch(logout).status);  // a guessed one
    logout.form["token"] = token;
    logout.headers["origin"] = "http://evil.example";
    EXPECT_EQ(403, Station().Dispatch(logout).status);  // another site's page
    logout.headers.erase("origin");
    EXPECT_EQ(403, Station().Dispatch(logout).status);  // neither Origin nor Referer
    EXPECT_EQ(200, Station().Dispatch(Request("GET", "/")).status);  // still logged in
    CRequest reveal = Request("POST", "/registration/passwords");
    reveal.form = {{"id", "1"}};
    const Reply refused = Station().Dispatch(reveal);
    EXPECT_EQ(403, refused.status);
    EXPECT_EQ(std::string::npos, refused.body.find("Kennwort-XY"));
    CRequest exportRequest = Request("POST", "/export");
    exportRequest.form = {{"passwords", "1"}};
    EXPECT_EQ(std::string::npos, Station().Dispatch(exportRequest).body.find("Kennwort-XY"));
    // A rebound DNS name reaches nothing, logged in or not.
    CRequest rebound = Request("GET", "/");
    rebound.headers["host"] = "evil.example:8080";
    EXPECT_EQ(421, Station().Dispatch(rebound).status);
    // With the token from this station's page: logged out, the session gone.
    logout = Request("POST", "/logout");
    logout.form["token"] = token;
    EXPECT_EQ(303, Station().Dispatch(logout).status);
    EXPECT_EQ(303, Station().Dispatch(Request("GET", "/")).status);
}

TEST_F(StationTest, TheExportIsADownloadWithPasswordsOnlyWhenAsked) {
    options_.secureCookies = true;
    options_.hosts = {"desk.example.de"};
    const Reply in = LogIn("Richtiges-Passwort");
    EXPECT_EQ(403, in.status);  // an http origin behind an HTTPS proxy is not the station's
    CRequest login = Request("POST", "/login");
    login.headers["origin"] = "https://desk.example.de";
    login.form = {{"name", "anna"}, {"password", "Richtiges-Passwort"}};
    const Reply secure = Station().Dispatch(login);
    EXPECT_NE(std::string::npos, HeaderOf(secure, "Set-Cookie").find("; Secure"));
    cookie_ = HeaderOf(secure, "Set-Cookie").substr(std::string(CStation::kSessionCookie).size() + 1, 64);
    CRequest get = Request("GET", "/export");
    const std::string page = Station().Dispatch(get).body;
    const std::string token = page.substr(page.find("name=\"token\" value=\"") + 20, 64);
    CRequest download = Request("POST", "/export");
    download.headers["origin"] = "https://desk.example.de";
    download.form = {{"token", token}};
    const Reply plain = Station().Dispatch(download);
    EXPECT_EQ(200, plain.status);
    EXPECT_EQ("attachment; filename=\"velkdesk.csv\"", HeaderOf(plain, "Content-Disposition"));
    EXPECT_NE(std::string::npos, plain.body.find("<script>alert('vorname')</script>"));  // a CSV, not a page
    EXPECT_EQ(std::string::npos, plain.body.find("Kennwort-XY"));
    download.form["passwords"] = "1";
    EXPECT_NE(std::string::npos, Station().Dispatch(download).body.find("Kennwort-XY"));
}

TEST_F(StationTest, WithoutAccountsThePrintedAddressOpensOneSessionOnce) {
    options_.oneTimeToken = true;
    const std::string address = Station().StartAddress();
    ASSERT_EQ(0u, address.rfind("http://127.0.0.1:8080/auth?token=", 0)) << address;
    CRequest redeem = Request("GET", "/auth");
    redeem.query["token"] = address.substr(address.find('=') + 1);
    const Reply first = Station().Dispatch(redeem);
    EXPECT_EQ(303, first.status);
    EXPECT_EQ("/", HeaderOf(first, "Location"));
    EXPECT_FALSE(HeaderOf(first, "Set-Cookie").empty());
    EXPECT_EQ(403, Station().Dispatch(redeem).status);
    EXPECT_TRUE(HeaderOf(Station().Dispatch(redeem), "Set-Cookie").empty());
}

TEST_F(StationTest, ARemovedClerksSessionEnds) {
    LogIn("Richtiges-Passwort");
    EXPECT_EQ(200, Station().Dispatch(Request("GET", "/")).status);
    {
        desk::CDatabase db(db_.string());
        desk::CClerks(db).Remove("anna");
    }
    EXPECT_EQ(303, Station().Dispatch(Request("GET", "/")).status);
}

TEST_F(StationTest, SearchFindsByNamePostcodeEmailOrArticleAndTakesWildcardsLiterally) {
    {
        desk::CDatabase db(db_.string());
        desk::Registration r;
        r.record.vorname = "Grete";
        r.record.nachname = "Müller";
        r.record.zip = "50667";
        r.record.username = "grete@example.de";
        r.record.gprod = "VM-4711";
        r.channel = "mail";
        r.dedupKey = "k2";
        db.Add(r);
    }
    for (const char* found : {"Müller", "Grete Müll", "506", "grete@exa", "4711"}) {
        const std::vector<desk::StoredRegistration> rows = desk_->Search(found, 10);
        ASSERT_EQ(1u, rows.size()) << found;
        EXPECT_EQ("Grete", rows[0].record.vorname);
    }
    for (const char* missed : {"667", "%", "_rete", "Anna"}) EXPECT_TRUE(desk_->Search(missed, 10).empty()) << missed;
}

TEST_F(StationTest, TwoClerksGetDifferentRegistrationsAndAStaleSaveIsRefusedWithTheCurrentValues) {
    {
        desk::CDatabase db(db_.string());
        desk::CClerks(db).Add("ben", "Bens-Passwort-1");
        desk::Registration r;
        r.record.zip = "50667";
        r.channel = "mail";
        r.dedupKey = "k2";
        r.doubts = {desk::DoubtFromLine("zip: missing")};
        db.Add(r);
    }
    auto session = [this](const std::string& name, const std::string& password) {
        CRequest r = Request("POST", "/login");
        r.form = {{"name", name}, {"password", password}};
        const std::string cookie = HeaderOf(Station().Dispatch(r), "Set-Cookie");
        cookie_ = cookie.substr(std::string(CStation::kSessionCookie).size() + 1, 64);
        return std::make_pair(cookie_, Token());
    };
    const auto anna = session("anna", "Richtiges-Passwort");
    const auto ben = session("ben", "Bens-Passwort-1");
    auto post = [this](const std::pair<std::string, std::string>& who, const std::string& path, Fields form) {
        cookie_ = who.first;
        CRequest r = Request("POST", path);
        form["token"] = who.second;
        r.form = std::move(form);
        return Station().Dispatch(r);
    };
    const std::string first = HeaderOf(post(anna, "/next", {}), "Location");
    const std::string second = HeaderOf(post(ben, "/next", {}), "Location");
    EXPECT_EQ("/registration?id=1", first);
    EXPECT_EQ("/registration?id=2", second);
    cookie_ = anna.first;
    EXPECT_NE(std::string::npos, Station().Dispatch(Request("GET", "/")).body.find("<td class=\"held\">ben</td>"));
    // Anna moves on: 2 is Ben's, so she is back at her own, and a third clerk would get nothing.
    EXPECT_EQ("/registration?id=1", HeaderOf(post(anna, "/next", {{"after", "1"}}), "Location"));

    // Ben holds 2: Anna's save of it is refused; his own goes in, settles its only doubt and
    // moves him on: nothing is free for him (1 is Anna's), so back to the queue.
    EXPECT_EQ(409, post(anna, "/registration/save", {{"id", "2"}, {"o_zip", "50667"}, {"f_zip", "60667"}}).status);
    const Reply saved = post(ben, "/registration/save", {{"id", "2"}, {"o_zip", "50667"}, {"f_zip", "60667"}});
    EXPECT_EQ("/?none=1", HeaderOf(saved, "Location"));
    EXPECT_TRUE(desk_->Find(2)->doubts.empty());
    CRequest view = Request("GET", "/registration");
    view.query = {{"id", "2"}};
    const std::string page = Station().Dispatch(view).body;
    EXPECT_NE(std::string::npos, page.find("<td>ben</td><td>Postleitzahl</td><td>50667</td><td>60667</td><td>missing</td>"))
        << page;
    // A save from a page that still showed 50667 is refused with what is stored now.
    const std::string stale = post(ben, "/registration/save", {{"id", "2"}, {"o_zip", "50667"}, {"f_zip", "70667"}}).body;
    EXPECT_NE(std::string::npos, stale.find("inzwischen geändert")) << stale;
    EXPECT_NE(std::string::npos, stale.find("value=\"60667\"")) << stale;
    EXPECT_NE(std::string::npos, stale.find("<li>Postleitzahl: 70667</li>")) << stale;
    EXPECT_EQ("60667", desk_->Find(2)->record.zip);

    // "Nothing free" while Anna holds 1; once she has settled it, nothing is left at all.
    auto queue = [this](const std::pair<std::string, std::string>& who) {
        cookie_ = who.first;
        CRequest r = Request("GET", "/");
        r.query = {{"none", "1"}};
        return Station().Dispatch(r).body;
    };
    EXPECT_NE(std::string::npos, queue(ben).find("gerade in Arbeit"));
    const std::string zip = desk_->Find(1)->record.zip;
    EXPECT_EQ("/?none=1", HeaderOf(post(anna, "/registration/save", {{"id", "1"}, {"o_zip", zip}, {"f_zip", zip}}), "Location"));
    const std::string empty = queue(ben);
    EXPECT_EQ(std::string::npos, empty.find("gerade in Arbeit"));
    EXPECT_NE(std::string::npos, empty.find("Nichts zu prüfen."));
}

TEST_F(StationTest, TheNextRegistrationIsReservedWhileTheClerkWorksAndTheSaveTakesIt) {
    {
        desk::CDatabase db(db_.string());
        desk::CClerks(db).Add("ben", "Bens-Passwort-1");
        for (const char* key : {"k2", "k3"}) {
            desk::Registration r;
            r.record.zip = "50667";
            r.channel = "mail";
            r.dedupKey = key;
            r.doubts = {desk::DoubtFromLine("zip: missing")};
            r.recordText = std::string(desk::kMaxRecordText + 2048, 'x');
            db.Add(r);
        }
    }
    std::map<std::string, std::pair<std::string, std::string>> who;  // cookie and token
    for (const auto& [name, password] : {std::make_pair("anna", "Richtiges-Passwort"), std::make_pair("ben", "Bens-Passwort-1")}) {
        CRequest r = Request("POST", "/login");
        r.form = {{"name", name}, {"password", password}};
        cookie_ = HeaderOf(Station().Dispatch(r), "Set-Cookie").substr(std::string(CStation::kSessionCookie).size() + 1, 64);
        who[name] = {cookie_, Token()};
    }
    auto post = [this, &who](const std::string& name, const std::string& path, Fields form, bool json = false) {
        cookie_ = who[name].first;
        CRequest r = Request("POST", path);
        form["token"] = who[name].second;
        r.form = std::move(form);
        if (json) r.headers["accept"] = "application/json";
        return Station().Dispatch(r);
    };
    EXPECT_EQ("/registration?id=1", HeaderOf(post("anna", "/next", {}), "Location"));
    // While Anna works on 1, 2 is reserved for her: its page comes back, ready to show.
    const Reply reserved = post("anna", "/registration/reserve", {{"after", "1"}});
    ASSERT_EQ(200, reserved.status);
    EXPECT_NE(std::string::npos, reserved.body.find("<h1>Registrierung 2</h1>"));
    EXPECT_NE(std::string::npos, reserved.body.find("Registrierung 1 ist erledigt. Hier die nächste."));
    // A record text over the bound says so.
    EXPECT_NE(std::string::npos, reserved.body.find("Gekürzt: die ersten 64 KiB von 66 KiB.")) << reserved.body;
    // Ben gets neither Anna's registration nor her reservation; beside his, none is left for him,
    // and none beside a registration another clerk holds.
    EXPECT_EQ("/registration?id=3", HeaderOf(post("ben", "/next", {}), "Location"));
    EXPECT_EQ(204, post("ben", "/registration/reserve", {{"after", "3"}}).status);
    EXPECT_EQ(204, post("ben", "/registration/reserve", {{"after", "1"}}).status);
    EXPECT_EQ(400, post("ben", "/registration/reserve", {{"after", "x"}}).status);
    // Ben cannot take 2 by naming it in his save; he is sent where the station's rules say.
    const std::string zip1 = desk_->Find(1)->record.zip;
    const Reply bens = post("ben", "/registration/save", {{"id", "3"}, {"o_zip", "50667"}, {"f_zip", "50667"}, {"next", "2"}}, true);
    EXPECT_EQ("application/json", bens.contentType);
    EXPECT_EQ(R"({"location":"/?none=1","next":null,"saved":true})", bens.body);
    EXPECT_EQ("anna", desk_->LeaseOf(2)->clerk);
    // Anna's save takes hers: the script shows the page it has, with the lease's new end.
    const Reply annas = post("anna", "/registration/save", {{"id", "1"}, {"o_zip", zip1}, {"f_zip", zip1}, {"next", "2"}}, true);
    const nlohmann::json answer = nlohmann::json::parse(annas.body);
    EXPECT_EQ(true, answer["saved"]);
    EXPECT_EQ(2, answer["next"]);
    EXPECT_EQ("/registration?id=2&done=1", answer["location"]);
    EXPECT_EQ(9u, answer["leaseUntil"].get<std::string>().size());  // "14:05 UTC"
    EXPECT_GE(desk_->LeaseOf(2)->expiresAt, std::time(nullptr) + desk::CReviewDesk::kLeaseSeconds - 5);
    EXPECT_FALSE(desk_->LeaseOf(1));
    // A save refused says only that; the script then sends the plain form, whose answer says why.
    const Reply stale = post("anna", "/registration/save", {{"id", "3"}, {"o_zip", "1"}, {"f_zip", "2"}}, true);
    EXPECT_EQ(R"({"saved":false})", stale.body);
    // Without the script, the same save answers with a redirect, as before.
    EXPECT_EQ("/?none=1", HeaderOf(post("anna", "/registration/save", {{"id", "2"}, {"o_zip", "50667"}, {"f_zip", "1"}}),
                                   "Location"));
}

namespace {

// A one-bit page of 600 x 400 pixels with a black bar where the postcode is written, as the
// sheet reader stores it.
desk::StoredPage PageWithABar() {
    sheet::CPix pix(pixCreate(600, 400, 1));
    pixRasterop(pix.Get(), 110, 110, 180, 30, PIX_SET, nullptr, 0, 0);
    l_uint8* data = nullptr;
    size_t size = 0;
    pixWriteMemTiff(&data, &size, pix.Get(), IFF_TIFF_G4);
    desk::StoredPage page;
    page.width = 600;
    page.height = 400;
    page.format = "tiff-g4";
    page.bytes.assign(reinterpret_cast<const char*>(data), size);
    lept_free(data);
    return page;
}

desk::Doubt SheetDoubt(const std::string& field, desk::DoubtKind kind, const std::string& message, desk::PageBox box) {
    desk::Doubt d;
    d.field = field;
    d.kind = kind;
    d.message = message;
    d.page = 1;
    d.box = box;
    return d;
}

}  // namespace

// Every kind of doubt reads as a German sentence; a secret's value and rivals are never in it,
// and the mail reader's findings are said in words of their own.
TEST(DoubtWordsTest, EveryKindIsSaidInGermanAndASecretIsNeverQuoted) {
    for (int k = 0; k <= static_cast<int>(desk::DoubtKind::Charset); ++k) {
        desk::Doubt d;
        d.kind = static_cast<desk::DoubtKind>(k);
        d.field = "password_1";
        d.message = "\"Geheim-Il\" could as well be \"Geheim-lI\"";
        d.rivals = {"Geheim-lI"};
        const std::string secret = desk::DoubtSentence(d, "Geheim-Il", true);
        SCOPED_TRACE(desk::DoubtKindName(d.kind));
        EXPECT_FALSE(secret.empty());
        EXPECT_EQ(std::string::npos, secret.find("Geheim"));
        EXPECT_EQ(std::string::npos, secret.find("could"));
        EXPECT_STRNE("Zweifel", desk::DoubtHeading(d.kind));
    }
    desk::Doubt mended;
    mended.kind = desk::DoubtKind::Mended;
    mended.rivals = {"Til"};
    EXPECT_EQ("Gelesen als \xE2\x80\x9ETil\xE2\x80\x9C, nach dem Schriftbild ausgebessert.",
              desk::DoubtSentence(mended, "Till", false));
    desk::Doubt cut;
    cut.kind = desk::DoubtKind::Structure;
    cut.field = "new";
    cut.message = "end line missing";
    EXPECT_EQ("Die Schlusszeile des Datensatzes fehlt.", desk::DoubtSentence(cut, "", false));
    desk::Doubt date;
    date.kind = desk::DoubtKind::BadForm;
    date.message = "\"31.02.2003\" is no date";
    EXPECT_EQ("Kein Datum der Form TT.MM.JJJJ.", desk::DoubtSentence(date, "31.02.2003", false));
    // The queue's line names the field by the sheet's label.
    desk::Doubt zip;
    zip.kind = desk::DoubtKind::Rival;
    zip.field = "zip";
    zip.page = 2;
    EXPECT_EQ("Seite 2, Postleitzahl: Mehrdeutig", desk::DoubtSummary(zip));
    EXPECT_EQ("Datensatz: Aufbau", desk::DoubtSummary(cut));
}

TEST_F(StationTest, ASheetsDoubtsAreShownWithTheirInkAndRivalsAndSettledByTheForm) {
    {
        desk::CDatabase db(db_.string());
        desk::Registration r;
        r.record.vorname = "Grete";
        r.record.zip = "50667";
        r.record.password_1 = r.record.password_2 = "Kennwort-Il";
        r.channel = "fax";
        r.dedupKey = "sheet";
        desk::Doubt zip = SheetDoubt("zip", desk::DoubtKind::Rival, "could as well be 60667", {100, 100, 200, 50});
        zip.rivals = {"60667", "50667", "50661"};
        r.doubts = {zip, SheetDoubt("vorname", desk::DoubtKind::LowConfidence, "read unsure", {550, 350, 200, 200}),
                    SheetDoubt("password_1", desk::DoubtKind::LooksAlike, "holds I or l", {100, 200, 200, 50}),
                    SheetDoubt("city", desk::DoubtKind::Missing, "missing", {5000, 5000, 10, 10})};
        r.pages = {PageWithABar()};
        db.Add(r);
        // A stored page that is no image must not bring the station down.
        desk::Registration broken = r;
        broken.dedupKey = "broken";
        broken.pages[0].bytes = "II*\0garbage";
        db.Add(broken);
    }
    auto get = [this](const std::string& path, Fields query) {
        CRequest r = Request("GET", path);
        r.query = std::move(query);
        return Station().Dispatch(r);
    };
    EXPECT_EQ(303, get("/field-image", {{"reg", "2"}, {"doubt", "0"}}).status);  // a session first
    LogIn("Richtiges-Passwort");

    const std::string page = get("/registration", {{"id", "2"}}).body;
    // The first doubtful field in the sheet's order has the focus, and only it.
    // A doubt about the hidden password is settled once it is shown: the button that shows the
    // passwords has the focus, and only it.
    EXPECT_NE(std::string::npos, page.find("id=\"reveal\" autofocus")) << page;
    EXPECT_EQ(page.find("autofocus"), page.rfind("autofocus"));
    {
        CRequest reveal = Request("POST", "/registration/passwords");
        reveal.form = {{"id", "2"}, {"token", Token()}};
        const std::string shown = Station().Dispatch(reveal).body;
        // Shown, the first doubtful field in the sheet's order has the focus, and only it.
        const std::size_t password = shown.find("id=\"f-password_1\""), vorname = shown.find("id=\"f-vorname\""),
                          zip = shown.find("id=\"f-zip\"");
        ASSERT_TRUE(password != std::string::npos && vorname != std::string::npos && zip != std::string::npos);
        const std::size_t first = std::min({password, vorname, zip});
        EXPECT_NE(std::string::npos, shown.substr(first, shown.find('>', first) - first).find("autofocus")) << shown;
        EXPECT_EQ(shown.find("autofocus"), shown.rfind("autofocus"));
        EXPECT_EQ(std::string::npos, shown.find("id=\"reveal\""));
    }
    // The doubt in the clerk's language, made from its data, not the command line's English.
    EXPECT_NE(std::string::npos,
              page.find("<strong>Mehrdeutig</strong> (Seite 1): \xE2\x80\x9E" "50667\xE2\x80\x9C k\xC3\xB6nnte auch "
                        "\xE2\x80\x9E" "60667\xE2\x80\x9C sein."))
        << page;
    EXPECT_EQ(std::string::npos, page.find("could as well be"));
    // The rivals, the stored value itself not among them, numbered for their keys.
    EXPECT_NE(std::string::npos, page.find("name=\"r_zip\" value=\"60667\" class=\"rival\" data-field=\"zip\" "
                                           "data-key=\"1\">Vorschlag 1: 60667</button>")) << page;
    EXPECT_NE(std::string::npos, page.find("data-key=\"2\">Vorschlag 2: 50661</button>"));
    EXPECT_NE(std::string::npos, page.find("src=\"/field-image?reg=2&amp;doubt=0\""));
    EXPECT_NE(std::string::npos, page.find("href=\"/page-image?reg=2&amp;page=1\""));
    // The password's ink is a password too: no picture of it while it is hidden.
    EXPECT_EQ(std::string::npos, page.find("doubt=2")) << page;
    EXPECT_NE(std::string::npos, page.find("Verwechselbare Zeichen"));

    const Reply field = get("/field-image", {{"reg", "2"}, {"doubt", "0"}});
    ASSERT_EQ(200, field.status);
    EXPECT_EQ("image/png", field.contentType);
    EXPECT_EQ(0, field.body.compare(0, 8, "\x89PNG\r\n\x1a\n"));
    {
        sheet::CPix pix(pixReadMem(reinterpret_cast<const l_uint8*>(field.body.data()), field.body.size()));
        ASSERT_TRUE(pix);
        // The box and its margin, and the bar's ink inside it.
        EXPECT_EQ(200 + 2 * kFieldMargin, pixGetWidth(pix.Get()));
        EXPECT_EQ(50 + 2 * kFieldMargin, pixGetHeight(pix.Get()));
        EXPECT_EQ(180 * 30, sheet::CountPixels(pix.Get()));
    }
    // A box over the page's edge is cut at it; one off the page, or of a doubt that is not
    // there, or of a page that does not decode, gives no picture.
    {
        const Reply edge = get("/field-image", {{"reg", "2"}, {"doubt", "1"}});
        sheet::CPix pix(pixReadMem(reinterpret_cast<const l_uint8*>(edge.body.data()), edge.body.size()));
        ASSERT_TRUE(pix);
        EXPECT_EQ(600 - 550 + kFieldMargin, pixGetWidth(pix.Get()));
        EXPECT_EQ(400 - 350 + kFieldMargin, pixGetHeight(pix.Get()));
    }
    EXPECT_EQ(404, get("/field-image", {{"reg", "2"}, {"doubt", "3"}}).status);
    EXPECT_EQ(404, get("/field-image", {{"reg", "2"}, {"doubt", "4"}}).status);
    EXPECT_EQ(404, get("/field-image", {{"reg", "3"}, {"doubt", "0"}}).status);
    EXPECT_EQ(404, get("/page-image", {{"reg", "3"}, {"page", "1"}}).status);
    EXPECT_EQ(400, get("/field-image", {{"reg", "2"}, {"doubt", "-1"}}).status);
    const Reply whole = get("/page-image", {{"reg", "2"}, {"page", "1"}});
    EXPECT_EQ(200, whole.status);
    EXPECT_EQ("image/png", whole.contentType);

    // The plain form: the rival's button takes its value, every field shown is looked at; the
    // hidden password keeps its doubt, so the clerk is back at the registration.
    CRequest save = Request("POST", "/registration/save");
    save.form = {{"token", Token()}, {"id", "2"}, {"o_zip", "50667"}, {"f_zip", "50667"}, {"r_zip", "60667"},
                 {"o_vorname", "Grete"}, {"f_vorname", "Grete"}, {"o_city", ""}, {"f_city", "Köln"}};
    EXPECT_EQ("/registration?id=2&saved=1", HeaderOf(Station().Dispatch(save), "Location"));
    const desk::StoredRegistration after = *desk_->Find(2);
    EXPECT_EQ("60667", after.record.zip);
    EXPECT_EQ("Köln", after.record.city);
    ASSERT_EQ(1u, after.doubts.size());
    EXPECT_EQ("password_1", after.doubts[0].field);
    const std::vector<desk::Correction> made = desk_->Corrections(2);
    ASSERT_EQ(3u, made.size());
    for (const desk::Correction& c : made) {
        if (c.field == "vorname") EXPECT_TRUE(c.doubtMessage == "read unsure" && c.oldValue == c.newValue);
        else if (c.field == "zip") EXPECT_TRUE(c.doubtKind == "rival" && c.newValue == "60667");
        else EXPECT_TRUE(c.field == "city" && c.doubtKind == "missing" && c.newValue == "Köln") << c.field;
    }
}

TEST(WebPages, TheCacheOfDecodedPagesKeepsThoseUsedLast) {
    const DecodedPage page = DecodePage(PageWithABar());
    ASSERT_TRUE(page);
    desk::StoredPage notTiff = PageWithABar();
    notTiff.format = "png";
    EXPECT_FALSE(DecodePage(notTiff));
    desk::StoredPage otherSize = PageWithABar();
    otherSize.width = 601;
    EXPECT_FALSE(DecodePage(otherSize));
    CPageCache cache(2);
    cache.Keep(1, 1, page);
    cache.Keep(1, 2, page);
    EXPECT_TRUE(cache.Find(1, 1));  // used last now: page 2 of 1 is the one to go
    cache.Keep(2, 1, page);
    EXPECT_TRUE(cache.Find(1, 1));
    EXPECT_FALSE(cache.Find(1, 2));
    EXPECT_TRUE(cache.Find(2, 1));
    EXPECT_FALSE(cache.Find(2, 2));
}

TEST(WebPages, APageStoredInStripsDecodesOnlyTheRowsOfItsFieldsAndReadsAsBefore) {
    // A page of ink rows, every 100th row a bar, as the importer stores it now.
    sheet::CPix pix(pixCreate(600, 1000, 1));
    for (int y = 0; y < 1000; y += 100) pixRasterop(pix.Get(), 10, y + 40, 500, 20, PIX_SET, nullptr, 0, 0);
    desk::StoredPage page;
    page.width = 600;
    page.height = 1000;
    page.format = "tiff-g4";
    ASSERT_TRUE(sheet::EncodeStoredPage(pix.Get(), page.bytes));
    // It reads back as it was, whole by Leptonica (as the single-strip pages) and row by row.
    const sheet::CPix all = sheet::DecodeStoredPageRows(page.bytes, 600, 1000, {{0, 1000}});
    ASSERT_TRUE(all);
    l_int32 same = 0;
    pixEqual(pix.Get(), all.Get(), &same);
    EXPECT_TRUE(same);
    const DecodedPage whole = DecodePage(page);
    ASSERT_TRUE(whole);
    // Two fields far apart: their rows (with the margin) are there, ink elsewhere is not decoded.
    const desk::PageBox upper{100, 630, 100, 40}, lower{100, 930, 100, 40};
    const DecodedPage rows = DecodePageRows(page, {lower, upper});
    ASSERT_TRUE(rows);
    for (const desk::PageBox& box : {upper, lower}) EXPECT_EQ(FieldPng(*whole, box), FieldPng(*rows, box));
    const sheet::CPix two = sheet::DecodeStoredPageRows(page.bytes, 600, 1000, {{914, 986}, {614, 686}, {620, 630}});
    ASSERT_TRUE(two);
    // Their strips (rows 512 to 686 and 896 to 986) hold three of the ten bars; no other is read.
    EXPECT_EQ(3 * 500 * 20, sheet::CountPixels(two.Get()));
    // A page of a single strip (an older import) reads down to its lowest field.
    const desk::StoredPage single = PageWithABar();
    EXPECT_TRUE(DecodePageRows(single, {{100, 100, 200, 50}}));
    const sheet::CPix bar = sheet::DecodeStoredPageRows(single.bytes, 600, 400, {{84, 166}});
    ASSERT_TRUE(bar);
    EXPECT_EQ(180 * 30, sheet::CountPixels(bar.Get()));
    // Bytes that are no such page give nothing, also when they claim a page of another size.
    desk::StoredPage broken = page;
    broken.bytes.resize(broken.bytes.size() / 2);
    EXPECT_FALSE(DecodePageRows(broken, {lower}));
    broken.bytes = "II*\0garbage";
    EXPECT_FALSE(DecodePageRows(broken, {lower}));
    desk::StoredPage otherSize = page;
    otherSize.height = 999;
    EXPECT_FALSE(DecodePageRows(otherSize, {lower}));
}

TEST(WebPages, TheFieldPicturesKeptStayWithinTheirBound) {
    CFieldPictures pictures;
    const std::shared_ptr<CFieldPictures::Slot> first = pictures.Find(1, 1);
    EXPECT_EQ(first, pictures.Find(1, 1));
    EXPECT_NE(first, pictures.Find(1, 2));
    pictures.Account(first, 1000);
    EXPECT_EQ(1000u, pictures.Bytes());
    // Pages of a megabyte of pictures each: the least recently used go.
    for (int reg = 2; reg < 12; ++reg) {
        pictures.Account(pictures.Find(reg, 1), 1u << 20);
        EXPECT_GE(kFieldCacheBytes, pictures.Bytes());
    }
    EXPECT_NE(first, pictures.Find(1, 1));  // gone, made anew
    for (int reg = 0; reg < static_cast<int>(kFieldCacheSlots) + 10; ++reg) pictures.Find(100 + reg, 1);
    EXPECT_GE(kFieldCacheBytes, pictures.Bytes());
}
