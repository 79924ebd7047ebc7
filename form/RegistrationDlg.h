// The registration form.
#pragma once

#include "framework/Dialog.h"

class CRegistrationDlg : public fw::CDialog {
public:
    explicit CRegistrationDlg(HWND parent = nullptr);

protected:
    BOOL OnInitDialog() override;
};
