// The built VelkRun.exe carries its texts byte for byte in code page 1252, its dialog
// templates with every control, and pictures of the promised sizes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "WinTest.h"
#include "framework/Text.h"
#include "res/resource.h"

using namespace wt;

namespace {

class VelkRunModule : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryExA((BinDir() + "VelkRun.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module_);
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }
    std::string String(UINT id) const { return fw::LoadResString(id, module_); }
    // Resource bytes, or "" when missing.
    std::string Resource(const char* type, UINT id) const {
        HRSRC info = FindResourceA(module_, MAKEINTRESOURCEA(id), type);
        if (!info) return std::string();
        const char* data = static_cast<const char*>(LockResource(LoadResource(module_, info)));
        return data ? std::string(data, SizeofResource(module_, info)) : std::string();
    }
    HMODULE module_ = nullptr;
};

// The texts the program shows or prints exactly as the registration desk knows them.
TEST_F(VelkRunModule, StringsAreCodePage1252) {
    struct Case {
        UINT id;
        const char* text;
    };
    const Case cases[] = {
        {1, "F\xFCr *-Felder ist eine Eingabe erforderlich"},
        {2, "Vorname *"},
        {4, "Stra\xDF" "e *"},
        {12, "E-Mail-Adresse = Benutzername f\xFCr den VIP-Service: *"},
        {19, "Als registrierter Anwender profitieren Sie von verschiedenen Vorteilen. W\xFCnschen Sie weitere "
             "Informationen? (Kann jederzeit annulliert werden!)"},
        {36, "Passwort (Wiederholung): *"},
        {39, "ja"},
        {40, "nein"},
        {41, "Ihr E-Mail-Programm wird jetzt gestartet und die E-Mail zum Versenden vorbereitet.\r\n"
             "Bei einigen E-Mail-Programmen ist es nicht m\xF6glich, die drei Komponenten Adresse, Betreff und "
             "Haupttext automatisch einzuf\xFCgen.\r\n"
             "Bitte f\xFCllen Sie die eventuell leerbleibenden Felder aus und senden Sie die E-Mail anschlie\xDF"
             "end ab, vielen Dank.\r\n"
             "\r\n"
             "Text: Der Text mit ihrer Registrierungsinformation befindet sich in der Windows-Zwischenablage.\r\n"
             "Bitte f\xFCgen Sie ihn mit dem Befehl \"Einf\xFCgen (Strg.+V)\" in das Textfeld Ihres "
             "E-Mail-Programms ein.\r\n"
             "Empf\xE4nger: %s\r\n"
             "Betreff: %s"},
        {50, "VELK Media Registrierung"},
        {51, "Produktregistrierung"},
        {62, "Stra\xDF" "e  _________________________________________________________________________________"},
        {73, "Als registrierter Anwender profitieren Sie von verschiedenen Vorteilen. W\xFCnschen Sie weitere"},
        {75, "E-Mail-Adresse = Benutzername f\xFCr den VIP-Service  _____________________________________________"},
        {79, "Passwort ab\xE4ndern."},
        {87, "Anwenderkenntnisse  _____________________________________________________________________"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(std::string(c.text), String(c.id));
    }
    for (UINT id = 1; id <= 87; ++id) EXPECT_FALSE(String(id).empty()) << "string " << id;
}

// The underscore runs give the answers their places on the printed sheet.
TEST_F(VelkRunModule, PrintedFormLinesHaveTheirRuns) {
    struct Case {
        UINT id;
        std::vector<size_t> runs;
    };
    const Case cases[] = {{61, {15, 24, 23}}, {62, {81}}, {63, {18, 28, 21}}, {64, {32, 43}}, {66, {15, 53}},
                          {67, {57}},         {68, {60}}, {69, {55}},         {70, {35}},     {71, {63}},
                          {74, {47}},         {75, {45}}, {76, {79}},         {80, {64}},     {82, {72}},
                          {83, {71}},         {84, {60}}, {85, {80}},         {86, {74}},     {87, {69}}};
    for (const Case& c : cases) {
        const std::string line = String(c.id);
        std::vector<size_t> runs;
        for (size_t i = 0; i < line.size();) {
            if (line[i] != '_') { ++i; continue; }
            size_t j = i;
            while (j < line.size() && line[j] == '_') ++j;
            runs.push_back(j - i);
            i = j;
        }
        EXPECT_EQ(c.runs, runs) << "string " << c.id;
    }
}

// Control counts of the three extended dialog templates (the count sits at offset 16).
TEST_F(VelkRunModule, DialogTemplatesHaveAllControls) {
    const struct {
        UINT id;
        WORD controls;
    } cases[] = {{IDD_RUNNER, 6}, {IDD_REGISTRATION, 65}, {IDD_NOTICE, 2}};
    for (const auto& c : cases) {
        const std::string data = Resource(MAKEINTRESOURCEA(5) /* RT_DIALOG */, c.id);
        ASSERT_GE(data.size(), 18u) << c.id;
        WORD signature, count;
        std::memcpy(&signature, data.data() + 2, 2);
        std::memcpy(&count, data.data() + 16, 2);
        EXPECT_EQ(0xFFFF, signature) << c.id;
        EXPECT_EQ(c.controls, count) << c.id;
    }
}

TEST_F(VelkRunModule, PicturesHaveTheirSizes) {
    const std::string logo = Resource("USER", IDR_LOGO);
    ASSERT_EQ(23864u, logo.size());
    BITMAPINFOHEADER header;
    std::memcpy(&header, logo.data() + 14, sizeof header);
    EXPECT_EQ(128, header.biWidth);
    EXPECT_EQ(62, header.biHeight);
    EXPECT_EQ(24, header.biBitCount);

    HBITMAP background = static_cast<HBITMAP>(
        LoadImageA(module_, MAKEINTRESOURCEA(IDB_BACKGROUND), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(nullptr, background);
    BITMAP bm;
    GetObjectA(background, sizeof bm, &bm);
    EXPECT_EQ(528, bm.bmWidth);
    EXPECT_EQ(326, bm.bmHeight);
    EXPECT_EQ(24, bm.bmBitsPixel);
    DeleteObject(background);

    for (int size : {32, 16}) {
        HICON icon = static_cast<HICON>(LoadImageA(module_, MAKEINTRESOURCEA(IDI_MAIN), IMAGE_ICON, size, size, 0));
        EXPECT_NE(nullptr, icon) << size;
        if (icon) DestroyIcon(icon);
    }
}

}  // namespace
