/* A mail program's Simple MAPI library for the tests: MAPISendMail writes everything it is
 * given to the file named by VELKTEST_MAIL_LOG, then returns a status or breaks down as
 * VELKTEST_MAIL_MODE says:
 *   "return <n>"       returns n (0 success, 1 the user's cancel, 2 failure, ...)
 *   "fault"            writes through a null pointer, with no handler of its own
 *   "raise"            raises a software exception nobody handles
 *   "fault-own-frame"  faults under a frame of its own that only cleans up (logs "unwound")
 *   "fault-handled"    faults under a frame of its own that repairs and resumes, returns 0
 * Loading (with the file loaded) and unloading are logged too, so a copy under another name
 * shows when a program loads it. Built once more with VELKTEST_NEEDS_HELPER, as a library
 * that cannot load without mail_helper.dll. Every log entry is "key=<length>:<bytes>\n". */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
    ULONG ulReserved;
    ULONG ulRecipClass;
    LPSTR lpszName;
    LPSTR lpszAddress;
    ULONG ulEIDSize;
    LPVOID lpEntryID;
} TestRecip;

typedef struct {
    ULONG ulReserved;
    LPSTR lpszSubject;
    LPSTR lpszNoteText;
    LPSTR lpszMessageType;
    LPSTR lpszDateReceived;
    LPSTR lpszConversationID;
    ULONG flFlags;
    TestRecip* lpOriginator;
    ULONG nRecipCount;
    TestRecip* lpRecips;
    ULONG nFileCount;
    LPVOID lpFiles;
} TestMessage;

#ifdef VELKTEST_NEEDS_HELPER
__declspec(dllimport) int MailHelperTag(void);
#endif

/* A growing log entry buffer, written with one WriteFile. */
typedef struct {
    char* bytes;
    size_t size;
} Buffer;

static void Append(Buffer* b, const char* bytes, size_t size) {
    char* grown = (char*)realloc(b->bytes, b->size + size + 1);
    if (!grown) return;
    b->bytes = grown;
    memcpy(b->bytes + b->size, bytes, size);
    b->size += size;
}

static void Field(Buffer* b, const char* key, const char* value, size_t size) {
    char head[96];
    int n = snprintf(head, sizeof head, "%s=%lu:", key, (unsigned long)size);
    Append(b, head, (size_t)n);
    Append(b, value, size);
    Append(b, "\n", 1);
}

/* A text field; a null pointer gives no field at all. */
static void Text(Buffer* b, const char* key, const char* value) {
    if (value) Field(b, key, value, strlen(value));
}

static void Number(Buffer* b, const char* key, unsigned long value) {
    char text[32];
    int n = snprintf(text, sizeof text, "%lu", value);
    Field(b, key, text, (size_t)n);
}

static void Flush(Buffer* b) {
    char path[MAX_PATH * 2];
    DWORD got = GetEnvironmentVariableA("VELKTEST_MAIL_LOG", path, sizeof path);
    if (got > 0 && got < sizeof path) {
        HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, b->bytes, (DWORD)b->size, &written, NULL);
            CloseHandle(file);
        }
    }
    free(b->bytes);
    b->bytes = NULL;
    b->size = 0;
}

static void Event(const char* name) {
    Buffer b = {NULL, 0};
    Text(&b, "event", name);
    Flush(&b);
}

/* Hand-made exception frames, as a library compiled without __try would have them. */
typedef struct OwnFrame {
    struct OwnFrame* prev;
    EXCEPTION_DISPOSITION(__cdecl* handler)(EXCEPTION_RECORD*, void*, CONTEXT*, void*);
} OwnFrame;

static void PushFrame(OwnFrame* frame) {
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(frame->prev) : : "memory");
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(frame) : "memory");
}

static void PopFrame(OwnFrame* frame) { __asm__ __volatile__("movl %0, %%fs:0" : : "r"(frame->prev) : "memory"); }

/* The fault both frame modes provoke: a two-byte store through a null pointer. */
static void StoreThroughNull(void) {
    __asm__ __volatile__("xorl %%eax, %%eax\n\tmovl %%eax, (%%eax)" : : : "eax", "memory");
}

static EXCEPTION_DISPOSITION __cdecl CleanUpHandler(EXCEPTION_RECORD* record, void* frame, CONTEXT* context,
                                                    void* dispatcher) {
    (void)frame;
    (void)context;
    (void)dispatcher;
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) Event("unwound");
    return ExceptionContinueSearch;
}

static EXCEPTION_DISPOSITION __cdecl RepairHandler(EXCEPTION_RECORD* record, void* frame, CONTEXT* context,
                                                   void* dispatcher) {
    (void)frame;
    (void)dispatcher;
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
    if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) return ExceptionContinueSearch;
    Event("handled");
    context->Eip += 2;  /* past "movl %eax, (%eax)" */
    return ExceptionContinueExecution;
}

static int IsWindowOfThisProcess(HWND hwnd) {
    DWORD pid = 0;
    if (!IsWindow(hwnd)) return 0;
    GetWindowThreadProcessId(hwnd, &pid);
    return pid == GetCurrentProcessId();
}

ULONG __stdcall MAPISendMail(ULONG_PTR session, ULONG_PTR uiParam, TestMessage* message, ULONG flags,
                             ULONG reserved) {
    char mode[64] = "return 0";
    Buffer b = {NULL, 0};
    ULONG i;
    GetEnvironmentVariableA("VELKTEST_MAIL_MODE", mode, sizeof mode);

    Text(&b, "event", "call");
    Number(&b, "session", (unsigned long)session);
    Number(&b, "uiParam", (unsigned long)uiParam);
    Number(&b, "uiParamIsOwnWindow", (unsigned long)IsWindowOfThisProcess((HWND)uiParam));
    Number(&b, "flags", flags);
    Number(&b, "reserved", reserved);
#ifdef VELKTEST_NEEDS_HELPER
    Number(&b, "helper", (unsigned long)MailHelperTag());
#endif
    if (message) {
        Number(&b, "ulReserved", message->ulReserved);
        Text(&b, "subject", message->lpszSubject);
        Text(&b, "noteText", message->lpszNoteText);
        Text(&b, "messageType", message->lpszMessageType);
        Text(&b, "dateReceived", message->lpszDateReceived);
        Text(&b, "conversationID", message->lpszConversationID);
        Number(&b, "flFlags", message->flFlags);
        Number(&b, "originatorGiven", message->lpOriginator != NULL);
        Number(&b, "recipCount", message->nRecipCount);
        for (i = 0; message->lpRecips && i < message->nRecipCount; ++i) {
            const TestRecip* r = &message->lpRecips[i];
            Number(&b, "recipReserved", r->ulReserved);
            Number(&b, "recipClass", r->ulRecipClass);
            Text(&b, "recipName", r->lpszName);
            Text(&b, "recipAddress", r->lpszAddress);
            Number(&b, "recipEIDSize", r->ulEIDSize);
            Number(&b, "recipEntryIDGiven", r->lpEntryID != NULL);
        }
        Number(&b, "fileCount", message->nFileCount);
        Number(&b, "filesGiven", message->lpFiles != NULL);
    }
    Flush(&b);

    if (strcmp(mode, "fault") == 0) {
        volatile int* volatile nowhere = NULL;
        *nowhere = 1;
    } else if (strcmp(mode, "raise") == 0) {
        RaiseException(0xE0564B54, 0, 0, NULL);
    } else if (strcmp(mode, "fault-own-frame") == 0) {
        OwnFrame frame;
        frame.handler = CleanUpHandler;
        PushFrame(&frame);
        StoreThroughNull();
        PopFrame(&frame);
    } else if (strcmp(mode, "fault-handled") == 0) {
        OwnFrame frame;
        frame.handler = RepairHandler;
        PushFrame(&frame);
        StoreThroughNull();
        PopFrame(&frame);
        Event("resumed");
        return 0;
    } else if (strncmp(mode, "return ", 7) == 0) {
        return (ULONG)strtoul(mode + 7, NULL, 10);
    }
    Event("survived");  /* never reached after a fault */
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        char module[MAX_PATH * 2] = "";
        Buffer b = {NULL, 0};
        GetModuleFileNameA(instance, module, sizeof module);
        Text(&b, "event", "attach");
        Text(&b, "module", module);
        Flush(&b);
    }
    /* Only an unload by FreeLibrary, not the end of the process. */
    if (reason == DLL_PROCESS_DETACH && reserved == NULL) Event("detach");
    return TRUE;
}
