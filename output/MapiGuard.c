/* The call into the mail program's library, guarded so that a fault in foreign code does not
 * take the program down. The only place that deals with structured exceptions by hand. */
#include "output/MapiGuard.h"

#if defined(_MSC_VER)

int CallMapiSendMailGuarded(LPMAPISENDMAIL sendMail, ULONG_PTR uiParam, lpMapiMessage message, FLAGS flags,
                            ULONG* status, DWORD* exceptionCode) {
    __try {
        *status = sendMail(0, uiParam, message, flags, 0);
        return 1;
    } __except (*exceptionCode = GetExceptionCode(), EXCEPTION_EXECUTE_HANDLER) {
        return 0;
    }
}

#elif defined(__GNUC__) && defined(__i386__)

/* GCC has no __try on i386, so the frame is installed by hand, the way the system's own
 * compilers do it: a registration record on the stack, linked in at FS:[0] (the head of the
 * thread's exception handler list) for the duration of the call.
 *
 * Why this shape and nothing simpler:
 * - The frame sits in the chain like any other, so a library that handles its own fault with
 *   its own frame (nearer to the fault than ours) gets it first, and the call then simply
 *   returns. A vectored handler would run before those frames and steal such faults.
 * - Before leaving, the handler lets RtlUnwind run the unwind handlers of every frame the
 *   library installed above ours, so the library can clean up, and the chain ends at ours.
 * - The jump back uses GCC's __builtin_setjmp/__builtin_longjmp, which save and restore only
 *   the frame and stack pointers: nothing on the way back may need a destructor, hence C.
 * - Registers are not trusted after RtlUnwind: the code that resumes finds the frame again
 *   through FS:[0], where RtlUnwind has left it on top. */

typedef struct GuardFrame {
    /* The registration record proper; it must come first (FS:[0] points at it). */
    struct GuardFrame* prev;
    EXCEPTION_DISPOSITION(__cdecl* handler)(EXCEPTION_RECORD*, void*, CONTEXT*, void*);
    /* Ours: where to resume, and what was caught. */
    void* resume[5];
    DWORD code;
} GuardFrame;

/* FS:[0] holds the head of the current thread's handler list. */
static GuardFrame* TopFrame(void) {
    GuardFrame* frame;
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(frame) : : "memory");
    return frame;
}

static void SetTopFrame(GuardFrame* frame) { __asm__ __volatile__("movl %0, %%fs:0" : : "r"(frame) : "memory"); }

/* Runs once RtlUnwind has removed every frame above ours: unlinks ours and jumps back into
 * CallMapiSendMailGuarded. Kept out of line so it depends on no register RtlUnwind may have
 * changed. */
static void __attribute__((noinline, noreturn)) ResumeAtGuard(void) {
    GuardFrame* frame = TopFrame();
    SetTopFrame(frame->prev);
    __builtin_longjmp(frame->resume, 1);
}

static EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* record, void* establisher, CONTEXT* context,
                                                  void* dispatcher) {
    (void)context;
    (void)dispatcher;
    /* Unwinding passes (ours or someone else's) are not ours to act on. */
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
    ((GuardFrame*)establisher)->code = record->ExceptionCode;
    RtlUnwind(establisher, 0, record, 0);
    ResumeAtGuard();
}

int CallMapiSendMailGuarded(LPMAPISENDMAIL sendMail, ULONG_PTR uiParam, lpMapiMessage message, FLAGS flags,
                            ULONG* status, DWORD* exceptionCode) {
    /* volatile: the frame is read back after the jump, when no register copy may be trusted. */
    volatile GuardFrame frame;
    frame.handler = GuardHandler;
    frame.code = 0;
    frame.prev = TopFrame();
    if (__builtin_setjmp((void**)frame.resume) == 0) {
        SetTopFrame((GuardFrame*)&frame);
        /* The call must stay between the setjmp and the unlink: without it GCC drops the
         * landing code. */
        *status = sendMail(0, uiParam, message, flags, 0);
        SetTopFrame(frame.prev);
        return 1;
    }
    /* Landed here from ResumeAtGuard: the frame is already unlinked. */
    *exceptionCode = frame.code;
    return 0;
}

#else
#error "The mail hand-off needs structured exception handling: MSVC, or GCC for 32-bit x86."
#endif
