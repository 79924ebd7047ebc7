// The Simple MAPI records and entry point the mail hand-off uses, and the guarded call into a
// mail program's library. Plain C, so the guard itself can live in a C file.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// Simple MAPI as the mail programs export it: 32-bit fields, 8-bit texts, stdcall.
typedef ULONG_PTR LHANDLE;
typedef ULONG FLAGS;

typedef struct MapiRecipDesc {
    ULONG ulReserved;
    ULONG ulRecipClass;
    LPSTR lpszName;
    LPSTR lpszAddress;
    ULONG ulEIDSize;
    LPVOID lpEntryID;
} MapiRecipDesc, *lpMapiRecipDesc;

struct MapiFileDesc;  // attachments: never sent, so only the pointer is needed

typedef struct MapiMessage {
    ULONG ulReserved;
    LPSTR lpszSubject;
    LPSTR lpszNoteText;
    LPSTR lpszMessageType;
    LPSTR lpszDateReceived;
    LPSTR lpszConversationID;
    FLAGS flFlags;
    lpMapiRecipDesc lpOriginator;
    ULONG nRecipCount;
    lpMapiRecipDesc lpRecips;
    ULONG nFileCount;
    struct MapiFileDesc* lpFiles;
} MapiMessage, *lpMapiMessage;

typedef ULONG(FAR PASCAL* LPMAPISENDMAIL)(LHANDLE lhSession, ULONG_PTR ulUIParam, lpMapiMessage lpMessage,
                                          FLAGS flFlags, ULONG ulReserved);

enum {
    kMapiTo = 1,            // MAPI_TO: recipient class of a main recipient
    kMapiUnread = 0x1,      // MAPI_UNREAD: message flag
    kMapiSent = 0x4,        // MAPI_SENT: message flag
    kMapiLogonUi = 0x1,     // MAPI_LOGON_UI: the library may ask for a logon
    kMapiNewSession = 0x2,  // MAPI_NEW_SESSION: do not reuse a shared session
    kMapiDialog = 0x8       // MAPI_DIALOG: show the compose window instead of sending
};

// Calls `sendMail` with no session, `uiParam`, `message`, `flags` and 0 under an exception
// frame of its own. Returns 1 when the call returned (its status in *status); returns 0 when
// an exception or processor fault left the library unhandled (its code in *exceptionCode).
// A fault the library raises and handles itself never reaches the frame.
int CallMapiSendMailGuarded(LPMAPISENDMAIL sendMail, ULONG_PTR uiParam, lpMapiMessage message, FLAGS flags,
                            ULONG* status, DWORD* exceptionCode);

#ifdef __cplusplus
}
#endif
