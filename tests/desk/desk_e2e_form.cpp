// The online form against VelkRun's own: what the real VelkRun.exe's form showed under Wine
// (left in VELK_DESK_E2E_DIR/form.txt by e2e_form_test) and the page the real `velkdesk form`
// serves over loopback for the same article number and title must ask the same things in the
// same order: texts and groups, every field's label, the lists with their items and defaults,
// the check boxes, the read-only article number and title. What the page does differently on
// purpose is in one table below. Run by scripts/test.sh after the Wine tests, not by CTest.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <libxml/HTMLparser.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "desk/sheet/ResourceText.h"
#include "res/resource.h"
#include "tests/support/file_bytes.h"

namespace fs = std::filesystem;

namespace {

enum class Kind { Caption, Text, Group, Edit, List, Date, Check, Button, Hidden, Other };

const char* KindName(Kind kind) {
    static const char* const names[] = {"caption", "text", "group", "edit", "list", "date", "check", "button", "hidden", "other"};
    return names[static_cast<int>(kind)];
}

// One thing the form shows, as either side gives it.
struct Item {
    Kind kind = Kind::Other;
    std::string key;    // a control's id on both sides; for the page's other elements their class or tag
    std::string label;  // a control's label; the text of a text, group or caption
    std::string value;  // an edit's text, a date's day (yyyy-mm-dd)
    std::string box;    // a check box's own text
    bool readOnly = false, password = false, checked = false;
    std::vector<std::string> items;
    int selected = -1;
};

// A text, group, caption, button or what else is no control.
Item Plain(Kind kind, const std::string& key, const std::string& text) {
    Item item;
    item.kind = kind;
    item.key = key;
    item.label = text;
    return item;
}

bool IsControl(Kind kind) {
    return kind == Kind::Edit || kind == Kind::List || kind == Kind::Date || kind == Kind::Check;
}

enum class Side { VelkRun, Page, Both };
enum class Treat {
    LeftOut,   // the item is not compared
    DayShown,  // each side's day is held against the day that side was shown, not against the other's
};

// What the page does differently from VelkRun's form on purpose. A key of "" matches every item
// of the kind.
struct OnPurpose {
    Side side;
    Kind kind;
    std::string key;
    Treat treat;
    const char* why;
};
const OnPurpose kOnPurpose[] = {
    {Side::VelkRun, Kind::Text, std::to_string(IDC_REG_LBL_SENDTO), Treat::LeftOut,
     "The address to post or fax the printed reply sheet to belongs to the paper route; the page sends itself."},
    {Side::VelkRun, Kind::Button, "", Treat::LeftOut,
     "Printing, mailing and cancelling are VelkRun's ways out; a page is left with the browser's own buttons."},
    {Side::Page, Kind::Button, "", Treat::LeftOut, "The page's one way out is sending it."},
    {Side::Page, Kind::Text, "privacy", Treat::LeftOut,
     "A page on the internet that takes personal data says what becomes of it (IDS_PRIVACY)."},
    {Side::Page, Kind::Hidden, "", Treat::LeftOut,
     "The form token and the trap field for scripts are out of sight and ask nobody anything."},
    {Side::Both, Kind::Date, "", Treat::DayShown,
     "VelkRun's date picker and the page's date input both open on the day the form is shown, which need not "
     "be the same day for the two."},
};

const OnPurpose* RuleFor(Side side, const Item& item) {
    for (const OnPurpose& rule : kOnPurpose)
        if ((rule.side == side || rule.side == Side::Both) && rule.kind == item.kind &&
            (rule.key.empty() || rule.key == item.key))
            return &rule;
    return nullptr;
}

// Text as a reader sees it: runs of white space are one space, none at either end.
std::string Collapsed(const std::string& text) {
    std::string out;
    bool space = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f') {
            space = !out.empty();
        } else {
            if (space) out += ' ';
            space = false;
            out += c;
        }
    }
    return out;
}

// ---- VelkRun's side: the lines DescribeForm (tests/support/form_support.h) wrote.

std::string Unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c;
    }
    return out;
}

struct VelkRunForm {
    std::string day;  // the day the form was read
    std::vector<Item> items;
    std::string error;
};

VelkRunForm ReadVelkRunForm(const std::string& text) {
    VelkRunForm form;
    std::istringstream lines(text);
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        std::vector<std::string> f;
        for (std::size_t start = 0;;) {
            const std::size_t tab = line.find('\t', start);
            f.push_back(Unescaped(line.substr(start, tab - start)));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        const std::string& what = f[0];
        const std::size_t want = what == "shown" || what == "caption" || what == "item" ? 2
                                 : what == "text" || what == "group" || what == "button" || what == "other" ? 3
                                 : what == "list" || what == "date" ? 4
                                 : what == "edit" || what == "check" ? 5 : 0;
        if (want == 0 || f.size() != want || (what == "item" && (form.items.empty() || form.items.back().kind != Kind::List))) {
            form.error = "line " + std::to_string(number) + " is not what DescribeForm writes: " + line;
            return form;
        }
        if (what == "shown") {
            form.day = f[1];
            continue;
        }
        if (what == "item") {
            form.items.back().items.push_back(Collapsed(f[1]));
            continue;
        }
        Item item;
        item.key = what == "caption" ? std::string() : f[1];
        if (what == "caption") {
            item.kind = Kind::Caption;
            item.label = Collapsed(f[1]);
        } else if (what == "text" || what == "group" || what == "button") {
            item.kind = what == "text" ? Kind::Text : what == "group" ? Kind::Group : Kind::Button;
            item.label = Collapsed(f[2]);
        } else if (what == "other") {
            item.label = "window class " + f[2];
        } else {
            item.label = Collapsed(f[2]);
            if (what == "edit") {
                item.kind = Kind::Edit;
                item.value = f[3];
                item.readOnly = f[4].find("readonly") != std::string::npos;
                item.password = f[4].find("password") != std::string::npos;
            } else if (what == "list") {
                item.kind = Kind::List;
                item.selected = std::atoi(f[3].c_str());
            } else if (what == "date") {
                item.kind = Kind::Date;
                item.value = f[3];
            } else {
                item.kind = Kind::Check;
                item.box = Collapsed(f[3]);
                item.checked = f[4] == "1";
            }
        }
        form.items.push_back(item);
    }
    if (form.day.empty() && form.error.empty()) form.error = "no \"shown\" line";
    return form;
}

// ---- The page's side: the HTML as a browser reads it, through libxml2's HTML parser.

std::string Content(xmlNode* node) {
    xmlChar* text = xmlNodeGetContent(node);
    std::string out = text ? reinterpret_cast<const char*>(text) : "";
    xmlFree(text);
    return out;
}

bool Has(xmlNode* node, const char* name) { return xmlHasProp(node, reinterpret_cast<const xmlChar*>(name)) != nullptr; }

std::string Attribute(xmlNode* node, const char* name) {
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    std::string out = value ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return out;
}

std::string Tag(xmlNode* node) { return reinterpret_cast<const char*>(node->name); }

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

class CPageReader {
public:
    explicit CPageReader(xmlNode* root) {
        Index(root);
        Walk(root);
    }
    std::vector<Item> items;
    std::map<std::string, std::string> names;  // a control's id (as in resource.h) -> the page's field name

private:
    void Index(xmlNode* node) {
        for (xmlNode* n = node; n; n = n->next) {
            if (n->type != XML_ELEMENT_NODE) continue;
            if (Has(n, "id")) byId_[Attribute(n, "id")] = n;
            if (Tag(n) == "label" && Has(n, "for")) labelFor_[Attribute(n, "for")] = n;
            for (const std::string& id : Words(Attribute(n, "aria-labelledby"))) labelling_.insert(id);
            Index(n->children);
        }
    }

    std::string TextOf(const std::string& id) const {
        const auto it = byId_.find(id);
        return it == byId_.end() ? std::string() : Collapsed(Content(it->second));
    }

    // A control by what it posts: the id resource.h gives VelkRun's control of that name.
    Item Control(Kind kind, xmlNode* n) {
        Item item;
        item.kind = kind;
        const std::string name = Attribute(n, "name");
        std::string idName = "IDC_REG_" + name;
        for (char& c : idName) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const unsigned id = sheet::CResourceText::BuiltIn().Id(idName);
        item.key = id ? std::to_string(id) : "name=" + name;
        names[item.key] = name;
        // A check box's question may stand apart (aria-labelledby), its own text in its <label>.
        const std::vector<std::string> labelledBy = Words(Attribute(n, "aria-labelledby"));
        const std::string own = labelFor_.count(Attribute(n, "id")) ? Collapsed(Content(labelFor_[Attribute(n, "id")])) : "";
        if (!labelledBy.empty()) {
            item.label = TextOf(labelledBy[0]);
            item.box = own;
        } else {
            item.label = own;
        }
        return item;
    }

    void Walk(xmlNode* node) {
        for (xmlNode* n = node; n; n = n->next) {
            if (n->type != XML_ELEMENT_NODE) continue;
            const std::string tag = Tag(n);
            if (Attribute(n, "aria-hidden") == "true") {
                items.push_back(Plain(Kind::Hidden, Attribute(n, "class"), Collapsed(Content(n))));
            } else if (tag == "title") {
                items.push_back(Plain(Kind::Caption, "", Collapsed(Content(n))));
            } else if (tag == "h1" || tag == "h2" || tag == "h3" || (tag == "p" && !labelling_.count(Attribute(n, "id")))) {
                const std::string text = Collapsed(Content(n));
                if (!text.empty()) items.push_back(Plain(Kind::Text, tag == "p" ? Attribute(n, "class") : tag, text));
            } else if (tag == "legend") {
                items.push_back(Plain(Kind::Group, "", Collapsed(Content(n))));
            } else if (tag == "button") {
                items.push_back(Plain(Kind::Button, Attribute(n, "id"), Collapsed(Content(n))));
            } else if (tag == "input") {
                const std::string type = Has(n, "type") ? Attribute(n, "type") : "text";
                if (type == "hidden") {
                    items.push_back(Plain(Kind::Hidden, Attribute(n, "name"), ""));
                } else if (type == "text" || type == "password") {
                    Item item = Control(Kind::Edit, n);
                    item.value = Attribute(n, "value");
                    item.readOnly = Has(n, "readonly");
                    item.password = type == "password";
                    items.push_back(item);
                } else if (type == "date") {
                    Item item = Control(Kind::Date, n);
                    item.value = Attribute(n, "value");
                    items.push_back(item);
                } else if (type == "checkbox") {
                    Item item = Control(Kind::Check, n);
                    item.checked = Has(n, "checked");
                    items.push_back(item);
                } else if (type == "submit" || type == "button") {
                    items.push_back(Plain(Kind::Button, Attribute(n, "id"), Attribute(n, "value")));
                } else {
                    items.push_back(Plain(Kind::Other, Attribute(n, "name"), "input of type " + type));
                }
            } else if (tag == "select") {
                Item item = Control(Kind::List, n);
                for (xmlNode* o = n->children; o; o = o->next) {
                    if (o->type != XML_ELEMENT_NODE || Tag(o) != "option") continue;
                    if (Has(o, "selected")) item.selected = static_cast<int>(item.items.size());
                    item.items.push_back(Collapsed(Content(o)));
                }
                // A drop-down without a chosen option shows its first.
                if (item.selected < 0 && !item.items.empty()) item.selected = 0;
                items.push_back(item);
            } else if (tag == "textarea") {
                Item item = Control(Kind::Edit, n);
                item.value = Content(n);
                item.readOnly = Has(n, "readonly");
                items.push_back(item);
            } else if (tag != "label" && tag != "script" && tag != "style") {
                Walk(n->children);
            }
        }
    }

    std::map<std::string, xmlNode*> byId_;
    std::map<std::string, xmlNode*> labelFor_;
    std::set<std::string> labelling_;
};

struct PageForm {
    std::vector<Item> items;
    std::map<std::string, std::string> names;
};

PageForm ReadPage(const std::string& html) {
    htmlDocPtr doc = htmlReadMemory(html.data(), static_cast<int>(html.size()), "http://127.0.0.1/", "UTF-8",
                                    HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING);
    if (!doc) return {};
    const CPageReader reader(xmlDocGetRootElement(doc));
    xmlFreeDoc(doc);
    return {reader.items, reader.names};
}

// ---- The comparison.

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// How a failure names an item: the page's field name where there is one, and what it says.
std::string Named(const Item& item, const std::map<std::string, std::string>& names) {
    std::string out = KindName(item.kind);
    if (IsControl(item.kind)) {
        const auto it = names.find(item.key);
        out += " " + (it != names.end() ? it->second : "control " + item.key);
    }
    return out + " " + Quoted(item.label);
}

std::vector<Item> Compared(const std::vector<Item>& items, Side side) {
    std::vector<Item> kept;
    for (const Item& item : items) {
        const OnPurpose* rule = RuleFor(side, item);
        if (!rule || rule->treat != Treat::LeftOut) kept.push_back(item);
    }
    return kept;
}

// Every difference between the two forms, each naming the item and both values.
std::vector<std::string> Differences(const VelkRunForm& velkRun, const std::vector<Item>& pageItems,
                                     const std::string& pageDay, const std::map<std::string, std::string>& names) {
    const std::vector<Item> a = Compared(velkRun.items, Side::VelkRun);
    const std::vector<Item> b = Compared(pageItems, Side::Page);
    std::vector<std::string> found;
    auto differ = [&](const std::string& what, const std::string& mine, const std::string& page) {
        if (mine != page) found.push_back(what + ": VelkRun " + Quoted(mine) + ", the page " + Quoted(page));
    };
    // Items in step are compared; where one side shows something the other does not show at
    // that place, the nearer place where the two are in step again is taken.
    auto same = [](const Item& x, const Item& y) {
        return x.kind == y.kind && (IsControl(x.kind) ? x.key == y.key : x.label == y.label);
    };
    auto onlyVelkRun = [&](std::size_t i) {
        found.push_back("item " + std::to_string(i + 1) + ": VelkRun shows " + Named(a[i], names) +
                        ", the page does not here");
    };
    auto onlyPage = [&](std::size_t j) {
        found.push_back("item " + std::to_string(j + 1) + ": the page shows " + Named(b[j], names) +
                        ", VelkRun does not here");
    };
    for (std::size_t i = 0, j = 0; i < a.size() || j < b.size();) {
        if (i == a.size()) {
            onlyPage(j++);
            continue;
        }
        if (j == b.size()) {
            onlyVelkRun(i++);
            continue;
        }
        const Item& x = a[i];
        const Item& y = b[j];
        if (x.kind != y.kind || (IsControl(x.kind) && x.key != y.key)) {
            std::size_t k = i + 1, l = j + 1;
            while (k < a.size() && !same(a[k], y)) ++k;
            while (l < b.size() && !same(x, b[l])) ++l;
            if (l < b.size() && (k == a.size() || l - j <= k - i)) {
                while (j < l) onlyPage(j++);
            } else if (k < a.size()) {
                while (i < k) onlyVelkRun(i++);
            } else {
                found.push_back("item " + std::to_string(i + 1) + ": VelkRun shows " + Named(x, names) +
                                " where the page shows " + Named(y, names));
                ++i;
                ++j;
            }
            continue;
        }
        ++i;
        ++j;
        const std::string name = Named(x, names);
        differ(name + ", " + (IsControl(x.kind) ? "label" : "text"), x.label, y.label);
        switch (x.kind) {
        case Kind::Edit:
            differ(name + ", value", x.value, y.value);
            differ(name + ", read-only", x.readOnly ? "yes" : "no", y.readOnly ? "yes" : "no");
            differ(name + ", password", x.password ? "yes" : "no", y.password ? "yes" : "no");
            break;
        case Kind::List: {
            for (std::size_t k = 0; k < std::max(x.items.size(), y.items.size()); ++k) {
                const std::string mine = k < x.items.size() ? x.items[k] : "(none)";
                const std::string page = k < y.items.size() ? y.items[k] : "(none)";
                if (mine != page) {
                    differ(name + ", item " + std::to_string(k + 1), mine, page);
                    break;
                }
            }
            auto chosen = [](const Item& list) {
                return list.selected >= 0 && list.selected < static_cast<int>(list.items.size())
                           ? list.items[static_cast<std::size_t>(list.selected)] : std::string("(nothing)");
            };
            differ(name + ", selected", chosen(x), chosen(y));
            break;
        }
        case Kind::Check:
            differ(name + ", box", x.box, y.box);
            differ(name + ", ticked", x.checked ? "yes" : "no", y.checked ? "yes" : "no");
            break;
        case Kind::Date: {
            const OnPurpose* rule = RuleFor(Side::Both, x);
            if (rule && rule->treat == Treat::DayShown) {
                // Held against each side's own day, as the table says why.
                differ(name + ", day against the day VelkRun's form was shown", x.value, velkRun.day);
                differ(name + ", day against the day the page was shown", y.value, pageDay);
            } else {
                differ(name + ", day", x.value, y.value);
            }
            break;
        }
        default:
            break;
        }
    }
    return found;
}

// ---- The real `velkdesk form` on a free loopback port.

class CFormServer {
public:
    explicit CFormServer(const fs::path& db) {
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            execl(VELKDESK_PATH, VELKDESK_PATH, "--db", db.c_str(), "form", "--listen", "127.0.0.1:0", nullptr);
            _exit(127);
        }
        close(out[1]);
        output_ = out[0];
        // Its first line is its address, printed once it listens.
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            pollfd p = {output_, POLLIN, 0};
            if (poll(&p, 1, 200) <= 0) continue;
            char buffer[256];
            const ssize_t got = read(output_, buffer, sizeof buffer);
            if (got <= 0) break;
            line.append(buffer, static_cast<std::size_t>(got));
        }
        const std::string prefix = "http://127.0.0.1:";
        if (line.compare(0, prefix.size(), prefix) == 0) port_ = static_cast<unsigned>(std::atoi(line.c_str() + prefix.size()));
    }
    ~CFormServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) close(output_);
    }
    unsigned Port() const { return port_; }

    // GET `target` as a browser asks for it; the whole answer, headers and body.
    std::string Get(const std::string& target) const {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port_));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const timeval timeout = {10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        std::string answer;
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                                        "\r\nConnection: close\r\n\r\n";
            send(fd, request.data(), request.size(), MSG_NOSIGNAL);
            char buffer[8192];
            for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<std::size_t>(got));
        }
        close(fd);
        return answer;
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
    unsigned port_ = 0;
};

std::string UrlEncoded(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string Today() {
    const std::time_t t = std::time(nullptr);
    std::tm tm = {};
    localtime_r(&t, &tm);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &tm);
    return text;
}

const Item* FindControl(const std::vector<Item>& items, int id) {
    for (const Item& item : items)
        if (IsControl(item.kind) && item.key == std::to_string(id)) return &item;
    return nullptr;
}

}  // namespace

TEST(DeskEndToEnd, TheOnlineFormAsksWhatVelkRunsFormAsks) {
    const char* dirVariable = std::getenv("VELK_DESK_E2E_DIR");
    ASSERT_NE(nullptr, dirVariable) << "VELK_DESK_E2E_DIR names the folder e2e_form_test wrote";
    const fs::path dir = dirVariable;
    const std::string dump = FileBytes(dir / "form.txt");
    ASSERT_FALSE(dump.empty()) << "no form.txt from the Wine run in " << dir;
    const VelkRunForm velkRun = ReadVelkRunForm(dump);
    ASSERT_EQ("", velkRun.error);
    const Item* article = FindControl(velkRun.items, IDC_REG_ARTICLE);
    const Item* title = FindControl(velkRun.items, IDC_REG_TITLE);
    ASSERT_TRUE(article && title) << "form.txt lacks the article number or the title";

    // The publisher's onlineTarget with the product VelkRun was started for.
    const fs::path work = dir / "native-form";
    fs::remove_all(work);
    fs::create_directories(work);
    std::string answer, pageDay;
    {
        CFormServer server(work / "desk.db");
        ASSERT_NE(0u, server.Port()) << "velkdesk form did not say where it listens";
        pageDay = Today();
        answer = server.Get("/?artikel=" + UrlEncoded(article->value) + "&titel=" + UrlEncoded(title->value));
    }
    ASSERT_EQ(0u, answer.find("HTTP/1.1 200 ")) << answer.substr(0, 200);
    const std::size_t bodyAt = answer.find("\r\n\r\n");
    ASSERT_NE(std::string::npos, bodyAt);
    const std::string html = answer.substr(bodyAt + 4);
    const PageForm page = ReadPage(html);
    ASSERT_FALSE(page.items.empty()) << "the page does not parse as HTML";

    // VelkRun shows the product it was started for, read-only; the page must show the same.
    EXPECT_EQ("VM-4711", article->value);
    EXPECT_EQ("Der gro\xC3\x9F" "e Atlas & Co. <2027>", title->value);
    EXPECT_TRUE(article->readOnly && title->readOnly);

    for (const std::string& difference : Differences(velkRun, page.items, pageDay, page.names))
        ADD_FAILURE() << difference;
}
