// Validation of the VIP section and collection of the form's answers, on a form stand-in.
#include "form/FormAnswers.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "res/resource.h"

namespace {

// A form whose controls are plain maps. A list is its items and its selection.
class CFakeForm final : public CFormAnswerSource {
public:
    CFakeForm() {
        // A complete entry with the VIP service wanted and every list on "no answer".
        checked = {IDC_REG_VIPWANTED};
        texts = {{IDC_REG_USERNAME, "anna@example.org"}, {IDC_REG_PASSWORD1, "Geheim1"},
                 {IDC_REG_PASSWORD2, "Geheim1"},         {IDC_REG_FIRSTNAME, "Anna"},
                 {IDC_REG_LASTNAME, "M\xFCller"},        {IDC_REG_STREET, "Hauptstra\xDF" "e 1"},
                 {IDC_REG_ZIP, "20457"},                 {IDC_REG_CITY, "Hamburg"},
                 {IDC_REG_ARTICLE, "A-1234"},            {IDC_REG_TITLE, "Atlas"}};
        lists[IDC_REG_COUNTRY] = {{"Belgien", "Deutschland", "D\xE4nemark"}, 1};
        for (int id : {IDC_REG_WHERE, IDC_REG_HOWKNOWN, IDC_REG_HOWOFTEN, IDC_REG_AGE, IDC_REG_OCCUPATION,
                       IDC_REG_CHILDREN, IDC_REG_PCTYPE, IDC_REG_OS, IDC_REG_SKILL})
            lists[id] = {{"Bitte w\xE4hlen", "eins", "keine Angabe"}, 0};
    }

    bool IsChecked(int id) const override { return checked.count(id) != 0; }
    std::string Text(int id) const override {
        read.push_back(id);
        auto it = texts.find(id);
        return it == texts.end() ? std::string() : it->second;
    }
    int Selection(int id) const override {
        read.push_back(id);
        auto it = lists.find(id);
        return it == lists.end() ? -1 : it->second.selection;
    }
    std::string ItemText(int id, int index) const override {
        const List& list = lists.at(id);
        return index >= 0 && index < static_cast<int>(list.items.size()) ? list.items[index] : std::string();
    }
    std::string PurchaseDate() const override {
        read.push_back(IDC_REG_DATE);
        return "07.03.2002";
    }

    struct List {
        std::vector<std::string> items;
        int selection;
    };
    std::set<int> checked;
    std::map<int, std::string> texts;
    std::map<int, List> lists;
    mutable std::vector<int> read;  // controls in the order they were read
};

const AnswerWords kWords{"ja", "nein"};

RegistrationRecord Filled(const std::string& marker) {
    RegistrationRecord r;
    for (std::string* field :
         {&r.username, &r.password_1, &r.password_2, &r.aggraccept, &r.vipkunde, &r.vorname, &r.nachname, &r.firm,
          &r.addr, &r.city, &r.zip, &r.land, &r.tel, &r.fax, &r.alt, &r.berstell, &r.lebkindih, &r.pctyp,
          &r.betrsystem, &r.anwender, &r.gprod, &r.gprodg, &r.wgekauf, &r.dgekauf, &r.pgekauf, &r.kaufoft, &r.titel})
        *field = marker;
    return r;
}

}  // namespace

TEST(ValidateVipAnswers, Outcomes) {
    struct Case {
        const char* name;
        bool wanted, customer;
        std::string username, password1, password2;
        bool ok, mismatch;
        RegistrationRecord expected;  // VIP fields only
    };
    const auto vip = [](std::string accept, std::string customer, std::string user, std::string p1, std::string p2) {
        RegistrationRecord r = Filled("old");
        r.aggraccept = accept;
        r.vipkunde = customer;
        r.username = user;
        r.password_1 = p1;
        r.password_2 = p2;
        return r;
    };
    const Case cases[] = {
        {"wanted, complete", true, false, "u", "pw", "pw", true, false, vip("ja", "nein", "u", "pw", "pw")},
        {"wanted, customer", true, true, "u", "pw", "pw", true, false, vip("ja", "ja", "u", "pw", "pw")},
        {"not wanted: nothing asked", false, true, "left", "a", "b", true, false, vip("nein", "ja", "", "", "")},
        {"no user name", true, false, "", "pw", "pw", false, false, vip("ja", "old", "", "old", "old")},
        {"no password", true, false, "u", "", "pw", false, false, vip("ja", "old", "u", "", "old")},
        {"no repetition", true, false, "u", "pw", "", false, false, vip("ja", "old", "u", "pw", "")},
        {"case differs", true, false, "u", "Geheim", "geheim", false, true, vip("ja", "old", "u", "", "")},
        {"prefix only", true, false, "u", "pw", "pw2", false, true, vip("ja", "old", "u", "", "")},
        {"blank and no e-mail accepted", true, false, " ", " ", " ", true, false, vip("ja", "nein", " ", " ", " ")},
        {"bytes compared as bytes", true, false, "u", "\xE4", "\xC4", false, true, vip("ja", "old", "u", "", "")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CFakeForm form;
        form.checked.clear();
        if (c.wanted) form.checked.insert(IDC_REG_VIPWANTED);
        if (c.customer) form.checked.insert(IDC_REG_VIPCUSTOMER);
        form.texts[IDC_REG_USERNAME] = c.username;
        form.texts[IDC_REG_PASSWORD1] = c.password1;
        form.texts[IDC_REG_PASSWORD2] = c.password2;
        RegistrationRecord record = Filled("old");
        bool mismatch = true;  // must be cleared on entry
        EXPECT_EQ(c.ok, ValidateVipAnswers(form, kWords, record, mismatch));
        EXPECT_EQ(c.mismatch, mismatch);
        EXPECT_EQ(c.expected.aggraccept, record.aggraccept);
        EXPECT_EQ(c.expected.vipkunde, record.vipkunde);
        EXPECT_EQ(c.expected.username, record.username);
        EXPECT_EQ(c.expected.password_1, record.password_1);
        EXPECT_EQ(c.expected.password_2, record.password_2);
        EXPECT_EQ("old", record.vorname) << "the address is not the VIP section's business";
    }
}

TEST(CollectFormAnswers, StopsAtTheFirstMissingRequiredAnswer) {
    // Each required answer, emptied alone: collection fails and reads nothing after it.
    struct Case {
        const char* name;
        int emptied;                 // a text control, or the country list
        std::vector<int> readUpTo;   // what is read, in order
    };
    const std::vector<int> address = {IDC_REG_FIRSTNAME, IDC_REG_LASTNAME, IDC_REG_STREET, IDC_REG_ZIP, IDC_REG_CITY};
    auto upTo = [&](size_t n, std::vector<int> more = {}) {
        std::vector<int> ids(address.begin(), address.begin() + static_cast<long>(n));
        ids.insert(ids.end(), more.begin(), more.end());
        return ids;
    };
    const std::vector<int> beforeProduct = {IDC_REG_COUNTRY, IDC_REG_FIRM, IDC_REG_PHONE, IDC_REG_FAX};
    std::vector<int> toArticle = upTo(5, beforeProduct);
    toArticle.push_back(IDC_REG_ARTICLE);
    std::vector<int> toTitle = toArticle;
    toTitle.push_back(IDC_REG_TITLE);
    const Case cases[] = {
        {"first name", IDC_REG_FIRSTNAME, upTo(1)},
        {"last name", IDC_REG_LASTNAME, upTo(2)},
        {"street", IDC_REG_STREET, upTo(3)},
        {"postal code", IDC_REG_ZIP, upTo(4)},
        {"town", IDC_REG_CITY, upTo(5)},
        {"no country selected", IDC_REG_COUNTRY, upTo(5, {IDC_REG_COUNTRY})},
        {"article number", IDC_REG_ARTICLE, toArticle},
        {"title", IDC_REG_TITLE, toTitle},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CFakeForm form;
        if (c.emptied == IDC_REG_COUNTRY)
            form.lists[IDC_REG_COUNTRY].selection = -1;
        else
            form.texts[c.emptied] = "";
        RegistrationRecord record = Filled("old");
        EXPECT_FALSE(CollectFormAnswers(form, record));
        EXPECT_EQ(c.readUpTo, form.read);
        // Fields after the failure keep the old attempt's values.
        EXPECT_EQ("old", record.pgekauf);
        EXPECT_EQ("old", record.dgekauf);
        if (c.emptied != IDC_REG_FIRSTNAME) {
            EXPECT_EQ("Anna", record.vorname);
        }
    }
}

TEST(CollectFormAnswers, SurveyRuleAndOptionalAnswers) {
    CFakeForm form;  // no firm, telephone, fax or products
    form.lists[IDC_REG_AGE].selection = 2;   // "keine Angabe" is an answer
    form.lists[IDC_REG_OS].selection = -1;   // no selection is none
    form.lists[IDC_REG_SKILL].selection = 1;
    RegistrationRecord record = Filled("old");
    ASSERT_TRUE(CollectFormAnswers(form, record));
    EXPECT_EQ("Deutschland", record.land);
    EXPECT_EQ("07.03.2002", record.dgekauf);
    EXPECT_EQ("keine Angabe", record.alt);
    EXPECT_EQ("eins", record.anwender);
    for (const std::string* empty : {&record.firm, &record.tel, &record.fax, &record.pgekauf, &record.betrsystem,
                                     &record.berstell, &record.lebkindih, &record.pctyp, &record.gprodg,
                                     &record.wgekauf, &record.kaufoft})
        EXPECT_EQ("", *empty);
    EXPECT_EQ("old", record.username) << "the VIP section is not collected here";
}
