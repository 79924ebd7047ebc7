// velkdesk form: the registration form of VelkRun as a web page, for customers on the internet.
// Built from the same dialog template, string table and lists as the Windows form, checked by
// the same rules (form/FormAnswers.h); a passing registration is stored with channel "web".
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "desk/Database.h"
#include "desk/web/Auth.h"
#include "desk/web/Http.h"
#include "desk/web/Pages.h"
#include "form/FormAnswers.h"

namespace desk::web {

// One control of the registration dialog, in template (tab) order. Texts in UTF-8.
struct FormControl {
    enum class Kind { Text, Group, Edit, List, Check, Date, Button };
    Kind kind = Kind::Text;
    int id = 0;
    std::string idName;   // "IDC_REG_FIRSTNAME"
    std::string field;    // the posted field's name: "firstname"
    std::string text;     // a label's or group's text as the form shows it (string table first)
    std::string label;    // an input's label: its IDC_REG_LBL_ text, or the text right before it
    bool isLabel = false; // a text that labels an input
    bool password = false;
    bool readOnly = false;
    std::vector<std::string> items;  // a list's items
};

// The registration dialog as VelkRun.exe shows it, read from the built-in res/VelkRun.rc: its
// controls in order, the labels set from the string table, the lists from their RCDATA.
// Throws std::runtime_error when the script does not hold what the page relies on.
const std::vector<FormControl>& RegistrationControls();
// A control of that id, or null.
const FormControl* FindControl(int id);
// The text of a control of another dialog of the script ("IDD_NOTICE", "IDC_NOTICE_TEXT").
std::string DialogText(const std::string& dialog, const std::string& control);

// The posted fields as the form's rules read them, by control id. A list's answer is the
// index of its item; an index outside the list is no selection.
class CPostedAnswers final : public CFormAnswerSource {
public:
    explicit CPostedAnswers(const Fields& form) : form_(form) {}
    bool IsChecked(int id) const override;
    std::string Text(int id) const override;
    int Selection(int id) const override;
    std::string ItemText(int id, int index) const override;
    std::string PurchaseDate() const override;
    // The control read last: when a rule fails, the one it failed on.
    int LastRead() const { return lastRead_; }

private:
    const std::string& Value(int id) const;
    const Fields& form_;
    mutable int lastRead_ = 0;
};

// "yyyy-mm-dd" (a date input) or "dd.mm.yyyy" as FormatPurchaseDate gives it; "" when it is
// no date of the calendar.
std::string PostedDate(const std::string& text);

// What the rules made of a posted form.
struct FormVerdict {
    bool passed = false;
    RegistrationRecord record;
    int failedControl = 0;  // the control whose rule failed
    bool passwordMismatch = false;
};
FormVerdict CheckPostedForm(const Fields& form, const AnswerWords& words);

// The per-form token: the time the form was shown, signed with a key only this process holds
// (HMAC-SHA-512-256). It proves the post comes from a form this process served, and when.
class CFormToken {
public:
    enum class Check { Valid, Forged, TooFast, Expired };
    CFormToken(Clock::duration minAge, Clock::duration maxAge);
    std::string Issue(Clock::time_point now) const;
    Check Verify(const std::string& token, Clock::time_point now) const;

private:
    std::string Mac(const std::string& text) const;
    unsigned char key_[32];
    Clock::duration minAge_, maxAge_;
};

// Posts per client address: a bucket of `burst` posts, refilled at `perMinute`. At most
// `maxKeys` addresses are kept; when full, the full buckets, then the oldest, are forgotten.
class CRateLimit {
public:
    struct Policy {
        unsigned burst = 10;
        double perMinute = 12;
        std::size_t maxKeys = 100000;
    };
    explicit CRateLimit(Policy policy) : policy_(policy) {}
    // True, with a post counted, when `address` may post now. `firstRefusal`, when given, tells
    // a refusal after an allowed post from one of a run (so a flood is logged once, not per post).
    bool Allow(const std::string& address, Clock::time_point now, bool* firstRefusal = nullptr);

private:
    struct Bucket {
        double tokens;
        Clock::time_point last;
        bool refusing = false;
    };
    double Refilled(const Bucket& b, Clock::time_point now) const;
    Policy policy_;
    std::mutex mutex_;
    std::map<std::string, Bucket> buckets_;
};

// The client's address: the last hop of X-Forwarded-For when the peer is a trusted proxy and
// the hop is an IP address; the peer otherwise.
std::string ClientAddress(const CRequest& request, const std::vector<std::string>& trustedProxies);

struct OnlineFormOptions {
    std::string listenHost;
    unsigned port = 0;
    std::vector<std::string> hosts;           // --host NAME
    bool https = false;                       // the proxy serves it over HTTPS
    std::vector<std::string> trustedProxies;  // --trust-proxy ADDR
    std::string missingEntriesMessage;        // Message1 of VelkRun.ini
    std::string passwordMismatchMessage;      // Message2
    Clock::duration minAge = std::chrono::seconds(1);
    Clock::duration maxAge = std::chrono::hours(12);
    CRateLimit::Policy rate;
};

// The handlers of `velkdesk form`: GET / shows the form, POST / checks and stores it, and the
// style sheet. Nothing that reads stored data. `log` gets one line per arrival or refusal and
// never a typed value.
class COnlineForm {
public:
    using Log = std::function<void(const std::string&)>;
    COnlineForm(CDatabase& db, const OnlineFormOptions& options, Log log);
    // Moves what is left in the spool into the desk's database.
    ~COnlineForm();
    COnlineForm(const COnlineForm&) = delete;
    COnlineForm& operator=(const COnlineForm&) = delete;
    Reply Dispatch(const CRequest& request);
    // Moves the spooled registrations into the desk's database now; how many were moved.
    // The mover calls it whenever a post arrives; a failure leaves them for the next time.
    std::size_t MoveSpooled();

    static constexpr const char* kHoneypot = "website";
    static constexpr const char* kTokenField = "formtoken";

private:
    Reply Show(const CRequest& request);
    Reply Send(const CRequest& request, const std::string& client);
    // The form with `posted` filled in (passwords never), `failed` marked with `message`.
    Reply FormPage(const Fields& posted, int failed, const std::string& message, int status);
    // Logs the refusal unless `client` is empty (a refusal already logged).
    Reply Refuse(const std::string& client, int status, const std::string& why, const std::string& text);

    CDatabase& db_;
    // The spool: a database of the form's own beside the desk's ("<database>-web"). A post is
    // stored there at once, durably, whatever the import holds; the mover brings it over.
    CDatabase spool_;
    std::mutex spoolMutex_;
    std::mutex moveMutex_;
    std::mutex wakeMutex_;  // guards moveWanted_'s two flags
    std::condition_variable moveWanted_;
    bool pending_ = false;
    bool stopping_ = false;
    std::thread mover_;
    OnlineFormOptions options_;
    Log log_;
    CHostRules hostRules_;
    CFormToken tokens_;
    CRateLimit rate_;
    CResponder respond_;
    AnswerWords words_;
};

}  // namespace desk::web
