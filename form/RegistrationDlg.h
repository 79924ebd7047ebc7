// The registration form: address, product, purchase, VIP service and survey answers, with
// the two output buttons that hand a checked record to the print and mail routes.
#pragma once

#include <string>

#include "form/RegistrationRecord.h"
#include "framework/Dialog.h"

class CRegistrationDlg : public fw::CDialog {
public:
    explicit CRegistrationDlg(HWND parent = nullptr);
    ~CRegistrationDlg() override;

    // The front half of both output buttons; each fills its part of the record from the
    // controls (see FormAnswers.h). Public so that tests can run them on an open form.
    bool ValidateVipSection(bool& passwordMismatch);
    bool CollectAnswers();

    const RegistrationRecord& Record() const { return record; }
    // The default mail client's Simple MAPI library; empty when none was found.
    const std::string& MailDllPath() const { return mailDllPath; }

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int notifyCode) override;
    void OnOK() override;
    void OnCancel() override;

    void OnPrintForm();
    void OnSendMail();
    void OnVipClicked();

private:
    void SetLabelTexts() const;
    void SelectInitialListItems() const;
    // Runs the checks and shows the notice when one fails; true when the record is complete.
    bool AcceptAnswers();
    void ShowNotice(const std::string& text);

    std::string mailDllPath;
    RegistrationRecord record;
};
