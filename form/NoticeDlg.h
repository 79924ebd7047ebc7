// The small box in which the registration form complains about missing or differing entries.
#pragma once

#include <string>

#include "framework/Dialog.h"

class CNoticeDlg : public fw::CDialog {
public:
    explicit CNoticeDlg(HWND parent);
    ~CNoticeDlg() override;

    // What the box says; set by the caller before DoModal.
    std::string noticeText;

protected:
    BOOL OnInitDialog() override;
};
