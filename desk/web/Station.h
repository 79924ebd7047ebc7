// The review station: who may ask (Host, session, token, Origin), and one short handler per
// page or action, each calling the desk's core (CReviewDesk).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "desk/ReviewDesk.h"
#include "desk/web/Auth.h"
#include "desk/web/Http.h"
#include "desk/web/PageCut.h"
#include "desk/web/Pages.h"

namespace desk::web {

struct StationOptions {
    std::string listenHost;              // as given to --listen, without brackets
    unsigned port = 0;                   // the port actually bound
    std::vector<std::string> hosts;      // --host NAME
    bool secureCookies = false;          // behind an HTTPS proxy
    bool oneTimeToken = false;           // no accounts: the printed address opens one session
    Clock::duration idle = std::chrono::minutes(30);
    Clock::duration absolute = std::chrono::hours(10);
    CLoginThrottle::Policy throttle;
};

class CStation {
public:
    CStation(CReviewDesk& desk, const StationOptions& options);

    // Every request of the server goes through here.
    Reply Dispatch(CRequest request);
    // The address to open in a browser, with the one-time token when there is one.
    std::string StartAddress() const;

    static constexpr const char* kSessionCookie = "velkdesk_session";

private:
    Reply Login(const CRequest& request);
    Reply LoginPage(const CRequest& request);
    Reply Redeem(const CRequest& request);
    Reply Logout(const CRequest& request);
    Reply Queue(const CRequest& request);
    Reply QueueCount(const CRequest& request);
    Reply Registration(const CRequest& request, bool revealPasswords);
    Reply Next(const CRequest& request);
    // The page of the registration the clerk gets after the one in `after`, reserved for them,
    // for the page's script to show the moment `after` is saved; 204 when none is free.
    Reply Reserve(const CRequest& request);
    Reply Save(const CRequest& request);
    // A doubtful field's picture cut from its stored page, and the whole page, as PNG.
    Reply FieldImage(const CRequest& request);
    Reply PageImage(const CRequest& request);
    // The picture of doubt `index` of `r` (kept PNGs, or cut now with every other doubtful field
    // of its page); nothing when no page or box is stored for it.
    std::optional<std::string> FieldPicture(const StoredRegistration& r, std::size_t index);
    // Page `page` of registration `id` decoded, from the cache or the database; null when not stored.
    DecodedPage Decoded(std::int64_t id, int page);
    // The registration page of `r`; `message` says why it is shown again, `entered` what the
    // clerk had typed when a save was refused.
    Reply RegistrationPage(const CRequest& request, const StoredRegistration& r, bool revealPasswords,
                           const std::string& message, const std::vector<FieldChange>& entered, int status);
    Reply Search(const CRequest& request);
    Reply ExportPage(const CRequest& request);
    Reply Export(const CRequest& request);
    Reply LoginForm(const CRequest& request, const std::string& name, const std::string& message, int status);
    Reply WithSession(Reply reply, const std::string& clerk);

    CReviewDesk& desk_;
    StationOptions options_;
    CHostRules hostRules_;
    CSessions sessions_;
    CLoginThrottle throttle_;
    CConcurrencyLimit passwordChecks_{2};
    std::unique_ptr<COneTimeToken> oneTime_;
    CResponder respond_;
    CRouter router_;
    CPageCache pages_{16};  // whole pages shown: two for each of eight clerks
    CFieldPictures fields_;
};

}  // namespace desk::web
