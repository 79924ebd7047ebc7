// The built programs are hard to subvert on a user's PC: ASLR and DEP on, no section both
// writable and executable, SEH left on (the mail guard needs it), and imports only from
// Windows' own DLLs, so nothing planted beside the product is loaded at start.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "WinTest.h"

using namespace wt;

namespace {

struct PeFile {
    std::string bytes;
    IMAGE_FILE_HEADER file = {};
    IMAGE_OPTIONAL_HEADER32 optional = {};
    std::vector<IMAGE_SECTION_HEADER> sections;

    bool Load(const std::string& path) {
        bytes = ReadFileBytes(path);
        if (bytes.size() < sizeof(IMAGE_DOS_HEADER)) return false;
        IMAGE_DOS_HEADER dos;
        std::memcpy(&dos, bytes.data(), sizeof dos);
        const size_t nt = static_cast<size_t>(dos.e_lfanew);
        if (dos.e_magic != IMAGE_DOS_SIGNATURE || nt + 4 + sizeof file + sizeof optional > bytes.size()) return false;
        if (std::memcmp(bytes.data() + nt, "PE\0\0", 4) != 0) return false;
        std::memcpy(&file, bytes.data() + nt + 4, sizeof file);
        std::memcpy(&optional, bytes.data() + nt + 4 + sizeof file, sizeof optional);
        size_t at = nt + 4 + sizeof file + file.SizeOfOptionalHeader;
        for (int i = 0; i < file.NumberOfSections && at + sizeof(IMAGE_SECTION_HEADER) <= bytes.size(); ++i) {
            IMAGE_SECTION_HEADER section;
            std::memcpy(&section, bytes.data() + at, sizeof section);
            sections.push_back(section);
            at += sizeof section;
        }
        return true;
    }

    // File offset of a relative virtual address; npos when no section holds it.
    size_t Offset(DWORD rva) const {
        for (const auto& s : sections) {
            const DWORD size = std::max(s.Misc.VirtualSize, s.SizeOfRawData);
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + size)
                return rva - s.VirtualAddress + s.PointerToRawData;
        }
        return std::string::npos;
    }

    std::string CString(DWORD rva) const {
        const size_t at = Offset(rva);
        if (at >= bytes.size()) return std::string();
        return std::string(bytes.c_str() + at, strnlen(bytes.c_str() + at, bytes.size() - at));
    }

    std::set<std::string> ImportedDlls() const {
        std::set<std::string> dlls;
        const IMAGE_DATA_DIRECTORY& dir = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        size_t at = Offset(dir.VirtualAddress);
        while (at != std::string::npos && at + sizeof(IMAGE_IMPORT_DESCRIPTOR) <= bytes.size()) {
            IMAGE_IMPORT_DESCRIPTOR d;
            std::memcpy(&d, bytes.data() + at, sizeof d);
            if (d.Name == 0) break;
            std::string name = CString(d.Name);
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
            dlls.insert(name);
            at += sizeof d;
        }
        return dlls;
    }
};

const std::set<std::string> kSystemDlls = {"kernel32.dll", "user32.dll",   "gdi32.dll",    "advapi32.dll",
                                           "shell32.dll",  "comctl32.dll", "comdlg32.dll", "winspool.drv",
                                           "msvcrt.dll"};

}  // namespace

TEST(PortableExecutable, ProgramsAreHardened) {
    for (const char* program : {"VelkRun.exe", "startstub.exe"}) {
        SCOPED_TRACE(program);
        PeFile pe;
        ASSERT_TRUE(pe.Load(BinDir() + program));
        EXPECT_EQ(IMAGE_FILE_MACHINE_I386, pe.file.Machine);
        EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR32_MAGIC, pe.optional.Magic);
        EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, pe.optional.Subsystem);
        const WORD traits = pe.optional.DllCharacteristics;
        EXPECT_TRUE(traits & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE) << std::hex << traits;
        EXPECT_TRUE(traits & IMAGE_DLLCHARACTERISTICS_NX_COMPAT) << std::hex << traits;
        EXPECT_FALSE(traits & IMAGE_DLLCHARACTERISTICS_NO_SEH) << std::hex << traits;
        // Relocations must be there for the loader to move the image.
        EXPECT_FALSE(pe.file.Characteristics & IMAGE_FILE_RELOCS_STRIPPED);
        EXPECT_NE(0u, pe.optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size);
        for (const auto& s : pe.sections) {
            const std::string name(reinterpret_cast<const char*>(s.Name), strnlen(reinterpret_cast<const char*>(s.Name), 8));
            const bool writable = s.Characteristics & IMAGE_SCN_MEM_WRITE;
            const bool executable = s.Characteristics & IMAGE_SCN_MEM_EXECUTE;
            EXPECT_FALSE(writable && executable) << "section " << name;
        }
        const std::set<std::string> dlls = pe.ImportedDlls();
        EXPECT_FALSE(dlls.empty());
        for (const std::string& dll : dlls) EXPECT_TRUE(kSystemDlls.count(dll)) << "imports " << dll;
    }
}
