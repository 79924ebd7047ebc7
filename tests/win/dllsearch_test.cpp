// Windows' own DLLs bound at run time come from the system folder and nowhere else: a DLL of
// the same name beside the program or in the current directory is never taken.
#include <gtest/gtest.h>

#include <string>

#include "WinTest.h"
#include "framework/DllSearch.h"
#include "framework/SystemFunction.h"

using namespace wt;

namespace {

std::string ModuleFile(HMODULE module) {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(module, path, sizeof path);
    return path;
}

std::string SystemFolder() {
    char path[MAX_PATH] = "";
    GetSystemDirectoryA(path, sizeof path);
    return path;
}

}  // namespace

TEST(SystemLibraries, ComeFromTheSystemFolderOnly) {
    // The test mail client lies beside this program and, for this test, in the current
    // directory too; it is no Windows DLL, so it must not be found.
    char previous[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof previous, previous);
    ASSERT_TRUE(FileExists(BinDir() + "mail_client.dll"));
    ASSERT_TRUE(SetCurrentDirectoryA(BinDir().c_str()));
    EXPECT_EQ(nullptr, fw::LoadSystemLibrary("mail_client.dll"));
    EXPECT_EQ(nullptr, fw::SystemFunction("mail_client.dll", "MAPISendMail"));
    SetCurrentDirectoryA(previous);

    const FARPROC printDialog = fw::SystemFunction("comdlg32.dll", "PrintDlgA");
    ASSERT_NE(nullptr, printDialog);
    HMODULE owner = nullptr;
    ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                   reinterpret_cast<LPCSTR>(printDialog), &owner));
    const std::string file = ModuleFile(owner);
    EXPECT_EQ(0, lstrcmpiA((SystemFolder() + "\\comdlg32.dll").c_str(), file.c_str())) << file;
    EXPECT_EQ(nullptr, fw::SystemFunction("comdlg32.dll", "NoSuchFunction"));
}
