// Pages into registrations. The reader starts Tesseract once, on the first page file of a run.
#include "desk/sheet/SheetIntake.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>

#include "desk/Import.h"

namespace desk {

namespace {

// A fax arrives in the fax's own one-bit coding (as TIFF, or inside a PDF), mostly at a fax
// machine's resolution; scans are grey or colour, or a bilevel image at a scanner's resolution.
bool LooksFaxed(const sheet::PageImage& image) {
    return image.faxCoded || image.yres == 98 || image.yres == 196 || image.xres == 204;
}

std::string FileTime(const std::string& path) {
    std::error_code error;
    const auto written = std::filesystem::last_write_time(path, error);
    if (error) return "";
    const auto system = std::chrono::time_point_cast<std::chrono::seconds>(
        written - std::filesystem::file_time_type::clock::now() + std::chrono::system_clock::now());
    const std::time_t seconds = std::chrono::system_clock::to_time_t(system);
    std::tm utc{};
    if (!gmtime_r(&seconds, &utc)) return "";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

sheet::CSheetReader& Reader() {
    static std::unique_ptr<sheet::CSheetReader> reader = std::make_unique<sheet::CSheetReader>();
    return *reader;
}

}  // namespace

Registration RegistrationFromSheet(const sheet::SheetReading& reading, const sheet::PageImage& image,
                                   const std::string& path, int page, const std::string& receivedAt) {
    Registration r;
    r.record = reading.record;
    r.channel = LooksFaxed(image) ? "fax" : "scan";
    r.sourceFile = path;
    r.sourceRef = "page " + std::to_string(page);
    r.receivedAt = receivedAt;
    r.dedupKey = sheet::SheetDedupKey(reading.record);
    for (const std::string& problem : reading.problems) r.reviewReasons.push_back(r.sourceRef + ", " + problem);
    return r;
}

void ImportPageFile(CImporter& importer, const std::string& path) {
    std::vector<sheet::PageImage> pages;
    std::string error;
    if (!sheet::LoadPages(path, pages, error)) {
        importer.FileFailed(path, error);
        return;
    }
    sheet::CSheetReader* reader = nullptr;
    try {
        reader = &Reader();
    } catch (const std::exception& e) {
        importer.FileFailed(path, e.what());
        return;
    }
    const std::string receivedAt = FileTime(path);
    for (std::size_t i = 0; i < pages.size() && !importer.Stopped(); ++i) {
        const sheet::SheetReading reading = reader->Read(pages[i]);
        if (!reading.isSheet) {
            importer.Note(path, "page " + std::to_string(i + 1) + ": " + reading.notSheetReason + ", skipped");
            importer.Add({});
            continue;
        }
        importer.Add({RegistrationFromSheet(reading, pages[i], path, static_cast<int>(i) + 1, receivedAt)});
    }
}

}  // namespace desk
