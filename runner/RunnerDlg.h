// The reminder window shown over its picture on the long-form route: offline and online
// registration, switching the reminder off, starting the product, leaving.
#pragma once

#include "framework/Dialog.h"
#include "framework/Guards.h"
#include "runner/BoldLabel.h"

class CRunnerDlg : public fw::CDialog {
public:
    CRunnerDlg();
    ~CRunnerDlg() override;

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int notifyCode) override;
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, INT_PTR& result) override;

private:
    void OnPaint();
    void OnRegisterOffline();
    void OnRegisterOnline();
    void OnStartProgram();
    void OnRemindNoMore();
    void OnExit();

    CBoldLabel reminderLabel;
    fw::CGdiObject<HBITMAP> backgroundBitmap;
    HICON dialogIcon;  // shared resource icon: never destroyed
};
