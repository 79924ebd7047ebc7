// The reminder window shown over its picture on the long-form route.
#pragma once

#include "framework/Dialog.h"

class CRunnerDlg : public fw::CDialog {
public:
    CRunnerDlg();

protected:
    BOOL OnInitDialog() override;
};
