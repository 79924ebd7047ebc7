// "Als Fax/Brief drucken" in the real VelkRun.exe: the Print dialog over the form, the page
// that reaches the CUPS PDF printer read back from the PDF, and nothing printed or shown when
// the dialog is cancelled or no printer is installed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WinTest.h"
#include "form_support.h"
#include "framework/Text.h"
#include "print_support.h"
#include "res/resource.h"

using namespace wt;
using namespace formtest;

namespace {

const char kIni[] = "TitelText=Druck\r\nMessage1=Fehlt\r\nMessage2=Anders\r\n";
// The article and title the sheet must show.
const char kArgs[] = "A-1 Titel";

struct Answers {
    std::string lastName, age, occupation, children, where;
};

Answers FillAddress(const CFormRun& run, const std::string& lastName) {
    run.Set(IDC_REG_FIRSTNAME, "Anna");
    run.Set(IDC_REG_LASTNAME, lastName);
    run.Set(IDC_REG_FIRM, "Kontor AG");
    run.Set(IDC_REG_STREET, "Hauptstra\xDF" "e 1");
    run.Set(IDC_REG_ZIP, "20457");
    run.Set(IDC_REG_CITY, "Hamburg");
    run.Set(IDC_REG_PHONE, "040 123");
    return {lastName, run.Select(IDC_REG_AGE, 2), run.Select(IDC_REG_OCCUPATION, 1), run.Select(IDC_REG_CHILDREN, 1),
            run.Select(IDC_REG_WHERE, 1)};
}

// Whether `pieces` stand in `text` in this order (blank runs counted as one blank).
::testing::AssertionResult InOrder(const std::string& text, const std::vector<std::string>& pieces) {
    const std::string t = pt::CollapseBlanks(text);
    std::size_t at = 0;
    for (const std::string& piece : pieces) {
        const std::size_t found = t.find(pt::CollapseBlanks(piece), at);
        if (found == std::string::npos) return ::testing::AssertionFailure() << "missing or out of order: " << piece;
        at = found + pt::CollapseBlanks(piece).size();
    }
    return ::testing::AssertionSuccess();
}

std::size_t Count(const std::string& text, const std::string& piece) {
    std::size_t n = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
    return n;
}

// Prints from the form with OK in the Print dialog and reads the PDF that holds `marker`.
bool PrintAndRead(const CFormRun& run, const std::string& marker, pt::PrintedPdf& pdf, const std::string& shot = "") {
    const std::set<std::string> before = pt::PdfFiles();
    HWND dialog = run.PressPrint();
    if (!dialog) return false;
    if (!shot.empty()) SaveScreenshot(dialog, shot);
    return run.Close(dialog, IDOK) && pt::WaitForPdf(before, marker, pdf);
}

}  // namespace

TEST(PrintFromForm, VipWantedPrintsUserNameAndPasswordInClear) {
    CFormRun run(kIni, kArgs);
    ASSERT_NE(nullptr, run.form);
    const Answers a = FillAddress(run, pt::UniqueMarker("Druck"));
    run.SetChecked(IDC_REG_VIPWANTED, true);
    run.Set(IDC_REG_USERNAME, "anna@example.org");
    run.Set(IDC_REG_PASSWORD1, "Klartext7");
    run.Set(IDC_REG_PASSWORD2, "Klartext7");
    SaveScreenshot(run.form, "print_e2e_form");

    const std::set<std::string> before = pt::PdfFiles();
    HWND dialog = run.PressPrint();
    ASSERT_NE(nullptr, dialog) << "no Print dialog owned by the form";
    EXPECT_FALSE(IsWindowEnabled(run.form));
    SaveScreenshot(dialog, "print_e2e_dialog");
    ASSERT_TRUE(run.Close(dialog, IDOK));
    pt::PrintedPdf pdf;
    ASSERT_TRUE(pt::WaitForPdf(before, a.lastName, pdf)) << "no PDF in " << pt::PdfFolder();
    EXPECT_TRUE(run.OnlyTheFormShows());

    EXPECT_EQ(1, pdf.pages);
    EXPECT_NE(std::string::npos, pdf.info.find("A4")) << pdf.info;
    const std::vector<std::string> sheet = {
        run.S(51), run.S(52), run.S(53), run.S(54), run.S(55), run.S(56), run.S(57), run.S(58), run.S(59),
        run.S(60), run.S(61), "Anna", a.lastName, "Kontor AG", run.S(62), "Hauptstra\xDF" "e 1", run.S(63),
        "20457", "Hamburg", "Deutschland", run.S(64), "040 123", run.S(65), run.S(66), "A-1", "Titel",
        run.S(67), a.where, run.S(68), run.S(69), Today(), run.S(70), "nein", run.S(71), run.S(72), run.S(73),
        run.S(74), "ja", run.S(75), "anna@example.org", run.S(76), "Klartext7", run.S(77), run.S(78), run.S(79),
        run.S(80), "nein", run.S(81), run.S(82), a.age, run.S(83), a.occupation, run.S(84), a.children,
        run.S(85), run.S(86), run.S(87)};
    EXPECT_TRUE(InOrder(pdf.text, sheet)) << pdf.text;
    // Unanswered questions keep their runs blank: the next question follows at once.
    const std::string text = pt::CollapseBlanks(pdf.text);
    for (unsigned id : {68u, 71u, 85u, 86u})
        EXPECT_NE(std::string::npos, text.find(pt::CollapseBlanks(run.S(id) + " " + run.S(id + 1)))) << id;
    // The repetition of the password is never printed: the password stands there once.
    EXPECT_EQ(1u, Count(pdf.text, "Klartext7"));
    EXPECT_TRUE(pt::KeepAsPngAndRemove(pdf, "print_e2e_page"));

    // The form stays open with its entries, ready to print again.
    EXPECT_TRUE(run.Running());
    EXPECT_EQ(a.lastName, ItemText(run.form, IDC_REG_LASTNAME));
}

TEST(PrintFromForm, VipNotWantedLeavesUserNameAndPasswordBlank) {
    CFormRun run(kIni, kArgs);
    ASSERT_NE(nullptr, run.form);
    const Answers a = FillAddress(run, pt::UniqueMarker("Ohnevip"));
    run.Set(IDC_REG_USERNAME, "nicht@gedruckt.example");
    run.SetChecked(IDC_REG_VIPWANTED, false);
    run.Set(IDC_REG_PRODUCTS, "Atlas 2001");
    pt::PrintedPdf pdf;
    ASSERT_TRUE(PrintAndRead(run, a.lastName, pdf));
    EXPECT_EQ(1, pdf.pages);
    EXPECT_TRUE(InOrder(pdf.text, {run.S(70), "Atlas 2001", run.S(71), run.S(74), "nein",
                                   run.S(75) + " " + run.S(76) + " " + run.S(77)}))
        << pdf.text;
    EXPECT_EQ(std::string::npos, pdf.text.find("nicht@gedruckt.example"));
    pt::KeepAsPngAndRemove(pdf, "print_e2e_page_novip");
}

TEST(PrintFromForm, CancelPrintsNothingAndShowsNothing) {
    CFormRun run(kIni, kArgs);
    ASSERT_NE(nullptr, run.form);
    const std::string cancelled = pt::UniqueMarker("Abbruch");
    FillAddress(run, cancelled);
    run.SetChecked(IDC_REG_VIPWANTED, false);
    const std::set<std::string> before = pt::PdfFiles();
    HWND dialog = run.PressPrint();
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(run.Close(dialog, IDCANCEL));
    EXPECT_FALSE(WaitUntil([&] { return !run.OnlyTheFormShows(); }, 1500));

    // A job printed afterwards arrives alone: the cancelled one never reached the printer.
    const std::string printed = pt::UniqueMarker("Danach");
    run.Set(IDC_REG_LASTNAME, printed);
    pt::PrintedPdf pdf;
    ASSERT_TRUE(PrintAndRead(run, printed, pdf));
    EXPECT_FALSE(pt::AnyPdfHolds(before, cancelled));
    DeleteFileA(pdf.path.c_str());
}

TEST(PrintFromForm, NoPrinterInstalledPrintsNothingAndShowsNothing) {
    CFormRun run(kIni, kArgs);
    ASSERT_NE(nullptr, run.form);
    const std::string unprinted = pt::UniqueMarker("Ohnedrucker");
    FillAddress(run, unprinted);
    run.SetChecked(IDC_REG_VIPWANTED, false);
    const std::set<std::string> before = pt::PdfFiles();
    {
        pt::CNoPrinters none;
        ASSERT_TRUE(none.Ok());
        HWND dialog = run.PressPrint(3000);
        EXPECT_EQ(nullptr, dialog);
        if (dialog) run.Close(dialog, IDCANCEL);
        EXPECT_TRUE(run.OnlyTheFormShows());
    }
    // With the printer back, the next press prints, and only that job arrives.
    const std::string printed = pt::UniqueMarker("Wieder");
    run.Set(IDC_REG_LASTNAME, printed);
    pt::PrintedPdf pdf;
    ASSERT_TRUE(PrintAndRead(run, printed, pdf));
    EXPECT_FALSE(pt::AnyPdfHolds(before, unprinted));
    DeleteFileA(pdf.path.c_str());
}
