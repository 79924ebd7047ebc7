// The online form below the browser: the page against VelkRun's own texts and lists, the
// Windows form's rules over posted fields, the form token, the rate limit, the client address
// behind a proxy, and the handlers' refusals, storage and escaping.
#include <regex>

#include "desk/sheet/ResourceText.h"
#include "desk/web/OnlineForm.h"
#include "output/CodePage.h"
#include "res/resource.h"
#include "tests/support/desk_db_fixture.h"

using namespace desk::web;
using std::chrono::hours;
using std::chrono::milliseconds;
using std::chrono::seconds;

namespace {

const sheet::CResourceText& Res() { return sheet::CResourceText::BuiltIn(); }
std::string ResString(unsigned id) { return Windows1252ToUtf8(Res().String(id)); }

// Escaped as the templates escape a value.
std::string Html(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c;
        }
    }
    return out;
}

std::vector<std::string> AllMatches(const std::string& text, const std::regex& pattern) {
    std::vector<std::string> found;
    for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it) found.push_back((*it)[1]);
    return found;
}

// A complete, passing post of the form (VIP wanted), by field name.
Fields CompletePost() {
    return {{"firstname", "Anna"},     {"lastname", "Müller"},   {"street", "Hauptstr. 1"}, {"zip", "20457"},
            {"city", "Hamburg"},       {"country", "26"},        {"firm", "Berg & Söhne"},  {"phone", "040 1"},
            {"fax", ""},               {"article", "A-123"},     {"title", "Atlas 2027"},   {"where", "1"},
            {"howknown", "2"},         {"date", "2026-02-03"},   {"howoften", "3"},         {"products", "Atlas"},
            {"vipwanted", "1"},        {"username", "a@b.de"},   {"password1", "Geh<eim>"}, {"password2", "Geh<eim>"},
            {"vipcustomer", "1"},      {"age", "0"},             {"occupation", "6"},       {"children", "2"},
            {"pctype", "8"},           {"os", "10"},             {"skill", "3"}};
}

AnswerWords Words() { return {ResString(IDS_YES), ResString(IDS_NO)}; }

}  // namespace

TEST(OnlineFormRules, APassingPostGivesTheRecordOfTheWindowsForm) {
    const FormVerdict v = CheckPostedForm(CompletePost(), Words());
    ASSERT_TRUE(v.passed);
    const RegistrationRecord& r = v.record;
    EXPECT_EQ("Anna", r.vorname);
    EXPECT_EQ("Müller", r.nachname);
    EXPECT_EQ("Oesterreich", r.land);
    EXPECT_EQ("Berg & Söhne", r.firm);
    EXPECT_EQ("03.02.2026", r.dgekauf);
    EXPECT_EQ("mehr als 6x / Jahr", r.kaufoft);
    EXPECT_EQ("", r.alt);  // "Bitte wählen" is no answer
    EXPECT_EQ("keine Angabe", r.berstell);
    EXPECT_EQ("anderes", r.betrsystem);
    EXPECT_EQ("Profi", r.anwender);
    EXPECT_EQ("ja", r.aggraccept);
    EXPECT_EQ("ja", r.vipkunde);
    EXPECT_EQ("Geh<eim>", r.password_1);
    EXPECT_EQ("A-123", r.gprod);
    EXPECT_EQ("Atlas 2027", r.titel);

    // Without the VIP service its answers go, whatever was typed.
    Fields noVip = CompletePost();
    noVip.erase("vipwanted");
    noVip["password2"] = "other";
    const FormVerdict n = CheckPostedForm(noVip, Words());
    ASSERT_TRUE(n.passed);
    EXPECT_EQ("nein", n.record.aggraccept);
    EXPECT_EQ("", n.record.username);
    EXPECT_EQ("", n.record.password_1);
    EXPECT_EQ("", n.record.password_2);
}

TEST(OnlineFormRules, EachFailedRuleNamesItsControl) {
    const std::pair<const char*, int> required[] = {
        {"username", IDC_REG_USERNAME}, {"password1", IDC_REG_PASSWORD1}, {"password2", IDC_REG_PASSWORD2},
        {"firstname", IDC_REG_FIRSTNAME}, {"lastname", IDC_REG_LASTNAME}, {"street", IDC_REG_STREET},
        {"zip", IDC_REG_ZIP}, {"city", IDC_REG_CITY}, {"country", IDC_REG_COUNTRY}, {"article", IDC_REG_ARTICLE},
        {"title", IDC_REG_TITLE}, {"date", IDC_REG_DATE}};
    for (const auto& [field, id] : required) {
        Fields post = CompletePost();
        post[field] = "";
        const FormVerdict v = CheckPostedForm(post, Words());
        EXPECT_FALSE(v.passed) << field;
        EXPECT_EQ(id, v.failedControl) << field;
        EXPECT_FALSE(v.passwordMismatch) << field;
    }
    for (const char* badCountry : {"43", "-1", "x", "99999"}) {
        Fields post = CompletePost();
        post["country"] = badCountry;
        EXPECT_EQ(IDC_REG_COUNTRY, CheckPostedForm(post, Words()).failedControl) << badCountry;
    }
    // An optional list out of range is no answer, not a failure.
    Fields post = CompletePost();
    post["age"] = "77";
    EXPECT_TRUE(CheckPostedForm(post, Words()).passed);

    post = CompletePost();
    post["password2"] = "Geh<eim>!";
    const FormVerdict m = CheckPostedForm(post, Words());
    EXPECT_TRUE(m.passwordMismatch);
    EXPECT_EQ(IDC_REG_PASSWORD1, m.failedControl);
    EXPECT_EQ("", m.record.password_1);
}

TEST(OnlineFormRules, DatesAreCalendarDatesOfThePickersRange) {
    EXPECT_EQ("03.02.2026", PostedDate("2026-02-03"));
    EXPECT_EQ("03.02.2026", PostedDate("03.02.2026"));
    EXPECT_EQ("29.02.2024", PostedDate("2024-02-29"));
    for (const char* bad : {"2023-02-29", "2026-13-01", "2026-00-10", "2026-04-31", "1600-01-01", "", "2026-2-3",
                            "+026-02-03", "03.02.26", "2026-02-03x"})
        EXPECT_EQ("", PostedDate(bad)) << bad;
}

TEST(OnlineFormGuards, TheTokenProvesTheFormAndItsAge) {
    const CFormToken tokens(seconds(1), hours(12));
    const Clock::time_point shown = Clock::now();
    const std::string token = tokens.Issue(shown);
    EXPECT_EQ(CFormToken::Check::TooFast, tokens.Verify(token, shown + milliseconds(900)));
    EXPECT_EQ(CFormToken::Check::Valid, tokens.Verify(token, shown + seconds(2)));
    EXPECT_EQ(CFormToken::Check::Expired, tokens.Verify(token, shown + hours(13)));
    // Another process's key, a changed time, a cut or junk token: none is this process's.
    const CFormToken other(seconds(1), hours(12));
    EXPECT_EQ(CFormToken::Check::Forged, tokens.Verify(other.Issue(shown), shown + seconds(2)));
    std::string earlier = token;
    earlier[0] = earlier[0] == '1' ? '2' : '1';
    EXPECT_EQ(CFormToken::Check::Forged, tokens.Verify(earlier, shown + seconds(2)));
    for (const std::string& junk : {std::string(), std::string("."), token.substr(0, token.size() - 1),
                                    token.substr(token.find('.')), std::string(5000, '1')})
        EXPECT_EQ(CFormToken::Check::Forged, tokens.Verify(junk, shown + seconds(2))) << junk.substr(0, 40);
}

TEST(OnlineFormGuards, TheRateLimitHoldsOneAddressAndForgetsWithinItsBound) {
    CRateLimit limit({3, 6, 4});  // 3 at once, one every 10 s, 4 addresses kept
    const Clock::time_point t = Clock::now();
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(limit.Allow("10.0.0.1", t));
    EXPECT_FALSE(limit.Allow("10.0.0.1", t));
    EXPECT_TRUE(limit.Allow("10.0.0.2", t));  // others are not held
    EXPECT_FALSE(limit.Allow("10.0.0.1", t + seconds(9)));
    EXPECT_TRUE(limit.Allow("10.0.0.1", t + seconds(19)));
    EXPECT_FALSE(limit.Allow("10.0.0.1", t + seconds(20)));
    // A flood of new addresses pushes out the oldest, not the table's bound.
    for (int i = 0; i < 100; ++i) EXPECT_TRUE(limit.Allow("10.1.0." + std::to_string(i), t + seconds(21)));
    EXPECT_TRUE(limit.Allow("10.0.0.1", t + seconds(21)));  // forgotten, so full again
}

TEST(OnlineFormGuards, TheForwardedAddressCountsOnlyFromATrustedProxy) {
    CRequest r;
    r.peerAddress = "192.0.2.7";
    r.headers["x-forwarded-for"] = "10.9.9.9, 203.0.113.5";
    EXPECT_EQ("192.0.2.7", ClientAddress(r, {}));
    EXPECT_EQ("192.0.2.7", ClientAddress(r, {"192.0.2.8"}));
    EXPECT_EQ("203.0.113.5", ClientAddress(r, {"192.0.2.7"}));
    r.headers["x-forwarded-for"] = "2001:db8::1";
    EXPECT_EQ("2001:db8::1", ClientAddress(r, {"192.0.2.7"}));
    r.headers["x-forwarded-for"] = "203.0.113.5, evil";
    EXPECT_EQ("192.0.2.7", ClientAddress(r, {"192.0.2.7"}));
}

class OnlineFormTest : public DeskDbTest {
protected:
    void SetUp() override {
        DeskDbTest::SetUp();
        db = std::make_unique<desk::CDatabase>(db_.string());
        options.listenHost = "127.0.0.1";
        options.port = 8081;
        options.minAge = Clock::duration::zero();
        options.rate = {5, 1, 100};
        form = std::make_unique<COnlineForm>(*db, options, [this](const std::string& line) { log.push_back(line); });
    }
    CRequest Request(const std::string& method) const {
        CRequest r;
        r.method = method;
        r.path = "/";
        r.peerAddress = "127.0.0.1";
        r.headers["host"] = "127.0.0.1:8081";
        if (method == "POST") r.headers["origin"] = "http://127.0.0.1:8081";
        return r;
    }
    std::string Token() {
        const std::string body = form->Dispatch(Request("GET")).body;
        std::smatch m;
        std::regex_search(body, m, std::regex("name=\"formtoken\" value=\"([^\"]+)\""));
        return m[1];
    }
    Reply Post(Fields fields, const std::string& token) {
        CRequest r = Request("POST");
        r.form = std::move(fields);
        r.form[COnlineForm::kTokenField] = token;
        return form->Dispatch(r);
    }
    std::unique_ptr<desk::CDatabase> db;
    OnlineFormOptions options;
    std::vector<std::string> log;
    std::unique_ptr<COnlineForm> form;
};

TEST_F(OnlineFormTest, ThePagesLabelsListsAndDefaultsAreVelkRunsOwn) {
    // What the Windows form sets from the string table (RegistrationDlg's label list), in its
    // tab order, and the one label the template itself gives.
    const std::vector<std::string> labels = {
        ResString(IDS_LBL_FIRSTNAME),  ResString(IDS_LBL_LASTNAME), ResString(IDS_LBL_STREET),   ResString(IDS_LBL_ZIP),
        ResString(IDS_LBL_CITY),       ResString(IDS_LBL_COUNTRY),  ResString(IDS_LBL_FIRM),     ResString(IDS_LBL_PHONE),
        ResString(IDS_LBL_FAX),        ResString(IDS_LBL_ARTICLE),  ResString(IDS_LBL_TITLE),    ResString(IDS_LBL_WHERE),
        ResString(IDS_LBL_HOWKNOWN),   ResString(IDS_LBL_WHEN),     ResString(IDS_LBL_HOWOFTEN),
        DialogText("IDD_REGISTRATION", "IDC_REG_LBL_PRODUCTS"),     ResString(IDS_LBL_VIPQUESTION),
        ResString(IDS_LBL_USERNAME),   ResString(IDS_LBL_PASSWORD1), ResString(IDS_LBL_PASSWORD2), ResString(IDS_LBL_VIPCUSTOMER),
        ResString(IDS_LBL_AGE),        ResString(IDS_LBL_OCCUPATION), ResString(IDS_LBL_CHILDREN), ResString(IDS_LBL_PCTYPE),
        ResString(IDS_LBL_OS),         ResString(IDS_LBL_SKILL)};
    CRequest get = Request("GET");
    get.query = {{"artikel", "A-<1>"}, {"titel", "Atlas \"2027\""}};
    const Reply page = form->Dispatch(get);
    ASSERT_EQ(200, page.status);

    std::vector<std::string> expected;
    for (const std::string& l : labels) expected.push_back(Html(l));
    // A check box's question stands in a paragraph, its "ja" in the label after it.
    std::vector<std::string> found;
    const std::regex any("<label for=\"([a-z0-9]+)\">([^<]*)</label>|<p class=\"question\" id=\"[a-z0-9]+-question\">([^<]*)</p>");
    for (std::sregex_iterator it(page.body.begin(), page.body.end(), any), end; it != end; ++it) {
        if ((*it)[3].matched) found.push_back((*it)[3]);
        else if ((*it)[2] != Html(ResString(IDS_YES)) && (*it)[1] != COnlineForm::kHoneypot) found.push_back((*it)[2]);
    }
    EXPECT_EQ(expected, found);
    for (const char* group : {"IDS_LBL_ADDRESS", "IDS_LBL_PRODUCT", "IDS_LBL_VIP", "IDS_LBL_OPTIONAL"})
        EXPECT_NE(std::string::npos, page.body.find("<legend>" + Html(ResString(Res().Id(group))) + "</legend>")) << group;

    // Every list with the items of its RCDATA, in order; "Deutschland" chosen, the others on
    // their first item.
    const std::pair<int, const char*> lists[] = {{IDC_REG_COUNTRY, "country"}, {IDC_REG_WHERE, "where"},
        {IDC_REG_HOWKNOWN, "howknown"}, {IDC_REG_HOWOFTEN, "howoften"}, {IDC_REG_AGE, "age"},
        {IDC_REG_OCCUPATION, "occupation"}, {IDC_REG_CHILDREN, "children"}, {IDC_REG_PCTYPE, "pctype"},
        {IDC_REG_OS, "os"}, {IDC_REG_SKILL, "skill"}};
    for (const auto& [id, name] : lists) {
        const std::size_t at = page.body.find("<select id=\"" + std::string(name) + "\"");
        ASSERT_NE(std::string::npos, at) << name;
        const std::string select = page.body.substr(at, page.body.find("</select>", at) - at);
        std::vector<std::string> items;
        for (const std::string& item : Res().List(static_cast<unsigned>(id))) items.push_back(Html(Windows1252ToUtf8(item)));
        EXPECT_EQ(items, AllMatches(select, std::regex("<option value=\"[0-9]+\"[^>]*>([^<]*)</option>"))) << name;
        EXPECT_EQ(id == IDC_REG_COUNTRY ? std::vector<std::string>{"Deutschland"} : std::vector<std::string>{},
                  AllMatches(select, std::regex("<option value=\"[0-9]+\" selected>([^<]*)</option>")))
            << name;
    }
    EXPECT_NE(std::string::npos, page.body.find("name=\"vipwanted\" type=\"checkbox\" value=\"1\" "
                                                "aria-labelledby=\"vipwanted-question vipwanted-box\" checked>"));
    EXPECT_EQ(std::string::npos, page.body.find("aria-labelledby=\"vipcustomer-question vipcustomer-box\" checked"));
    // Article and title from the address, read-only and escaped.
    EXPECT_NE(std::string::npos, page.body.find("value=\"A-&lt;1&gt;\" maxlength=\"200\" readonly"));
    EXPECT_NE(std::string::npos, page.body.find("value=\"Atlas &quot;2027&quot;\" maxlength=\"200\" readonly"));
    EXPECT_EQ(std::string::npos, page.body.find("<script"));
}

TEST_F(OnlineFormTest, ASentFormIsStoredOnceAsWebAndExportedAsTyped) {
    const std::string token = Token();
    const Reply thanks = Post(CompletePost(), token);
    EXPECT_EQ(200, thanks.status);
    EXPECT_NE(std::string::npos, thanks.body.find(ResString(IDS_THANKS)));
    EXPECT_EQ(200, Post(CompletePost(), token).status);  // the double click
    form->MoveSpooled();
    EXPECT_EQ(0u, form->MoveSpooled());  // the spool forgets what it moved
    const auto rows = Rows();
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ("web", rows[0].channel);
    EXPECT_TRUE(rows[0].doubts.empty());
    EXPECT_EQ("Berg & Söhne", rows[0].record.firm);
    EXPECT_EQ("Geh<eim>", rows[0].record.password_2);
    int status = 0;
    const std::string csv = RunCli("export --with-passwords", &status);
    EXPECT_EQ(0, status);
    EXPECT_NE(std::string::npos,
              csv.find(";a@b.de;Geh<eim>;Geh<eim>;ja;ja;Anna;Müller;Berg & Söhne;Hauptstr. 1;Hamburg;20457;Oesterreich;"
                       "040 1;;;keine Angabe;ja;anderer;anderes;Profi;A-123;Internet;Plakat/Schaufenster;"
                       "03.02.2026;Atlas;mehr als 6x / Jahr"))
        << csv;
    // The log says what arrived, never what was typed.
    ASSERT_EQ(2u, log.size());
    for (const std::string& line : log)
        for (const auto& field : CompletePost())
            if (field.second.size() > 2) {
                EXPECT_EQ(std::string::npos, line.find(field.second)) << line;
            }
}

TEST_F(OnlineFormTest, AFailedRuleShowsItsTextKeepsTheEntriesEscapedButNotThePasswords) {
    Fields post = CompletePost();
    post["zip"] = "";
    post["city"] = "<script>alert(1)</script>";
    Reply page = Post(post, Token());
    EXPECT_EQ(422, page.status);
    EXPECT_NE(std::string::npos, page.body.find("id=\"zip-error\" role=\"alert\">" +
                                                Html(DialogText("IDD_NOTICE", "IDC_NOTICE_TEXT"))));
    EXPECT_NE(std::string::npos, page.body.find("aria-describedby=\"zip-error\" autofocus>"));
    EXPECT_NE(std::string::npos, page.body.find("value=\"&lt;script&gt;alert(1)&lt;/script&gt;\""));
    EXPECT_EQ(std::string::npos, page.body.find("<script>"));
    EXPECT_NE(std::string::npos, page.body.find("value=\"Berg &amp; Söhne\""));
    EXPECT_NE(std::string::npos, page.body.find("<option value=\"26\" selected>Oesterreich</option>"));
    EXPECT_EQ(std::string::npos, page.body.find("Geh"));
    form->MoveSpooled();
    EXPECT_TRUE(Rows().empty());

    post = CompletePost();
    post["password2"] = "anders";
    page = Post(post, Token());
    EXPECT_NE(std::string::npos,
              page.body.find("id=\"password1-error\" role=\"alert\">" + Html(ResString(IDS_PASSWORDS_DIFFER))));
    EXPECT_EQ(std::string::npos, page.body.find("Geh"));
    EXPECT_EQ(std::string::npos, page.body.find("anders"));
}

TEST_F(OnlineFormTest, ScriptsForeignSitesAndFloodsAreRefusedAndSaidWhy) {
    struct Case {
        const char* why;
        std::function<CRequest(CRequest)> change;
        int status;
    };
    const std::string token = Token();
    const Case cases[] = {
        {"unknown Host", [](CRequest r) { r.headers["host"] = "evil.example"; return r; }, 421},
        {"posted from another site", [](CRequest r) { r.headers["origin"] = "http://evil.example"; return r; }, 403},
        {"posted from another site", [](CRequest r) { r.headers.erase("origin"); return r; }, 403},
        {"hidden field filled", [](CRequest r) { r.form[COnlineForm::kHoneypot] = "http://spam"; return r; }, 400},
        {"no valid form token", [](CRequest r) { r.form[COnlineForm::kTokenField] = "1-2.3"; return r; }, 403},
        {"a value too long or not text", [](CRequest r) { r.form["city"] = std::string(5000, 'x'); return r; }, 400},
        {"a value too long or not text", [](CRequest r) { r.form["city"] = "a\nb"; return r; }, 400},
        {"a value too long or not text", [](CRequest r) { r.form["city"] = "\xff"; return r; }, 400},
    };
    for (const Case& c : cases) {
        CRequest r = Request("POST");
        r.form = CompletePost();
        r.form[COnlineForm::kTokenField] = token;
        r.peerAddress = "10.0.0." + std::to_string(&c - cases);  // each its own bucket
        log.clear();
        EXPECT_EQ(c.status, form->Dispatch(c.change(r)).status) << c.why;
        ASSERT_EQ(1u, log.size()) << c.why;
        EXPECT_NE(std::string::npos, log[0].find(c.why)) << log[0];
    }
    form->MoveSpooled();
    EXPECT_TRUE(Rows().empty());

    // Sent within the minimum time.
    options.minAge = seconds(30);
    COnlineForm slow(*db, options, [this](const std::string& line) { log.push_back(line); });
    CRequest get = Request("GET");
    std::smatch m;
    const std::string body = slow.Dispatch(get).body;
    ASSERT_TRUE(std::regex_search(body, m, std::regex("name=\"formtoken\" value=\"([^\"]+)\"")));
    CRequest quick = Request("POST");
    quick.form = CompletePost();
    quick.form[COnlineForm::kTokenField] = m[1];
    EXPECT_EQ(400, slow.Dispatch(quick).status);
    form->MoveSpooled();
    EXPECT_TRUE(Rows().empty());

    // The sixth post of one address within the burst is refused; another address goes on.
    Fields wrong = CompletePost();
    wrong["zip"] = "";
    for (int i = 0; i < 5; ++i) EXPECT_EQ(422, Post(wrong, token).status);
    log.clear();
    EXPECT_EQ(429, Post(CompletePost(), token).status);
    EXPECT_EQ(429, Post(CompletePost(), token).status);
    EXPECT_EQ(1u, log.size());  // a flood is logged once
    CRequest other = Request("POST");
    other.peerAddress = "127.0.0.2";
    other.form = CompletePost();
    other.form[COnlineForm::kTokenField] = token;
    EXPECT_EQ(200, form->Dispatch(other).status);
    // No page reads stored data: only the form and its style sheet exist.
    for (const char* path : {"/export", "/registration", "/static/desk.js", "/queue.json"}) {
        CRequest r = Request("GET");
        r.path = path;
        EXPECT_EQ(404, form->Dispatch(r).status) << path;
    }
}
