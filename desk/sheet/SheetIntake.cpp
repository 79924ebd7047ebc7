// Pages into registrations. The reader starts Tesseract once, on the first page file of a run.
#include "desk/sheet/SheetIntake.h"

#include <leptonica/allheaders.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>

#include "desk/Import.h"

namespace desk {

namespace {

// A fax arrives as one-bit pages, mostly at a fax machine's resolution; scans are grey or
// colour. A PDF page is rendered grey, so a page with hardly any grey is taken for a fax.
bool LooksFaxed(const sheet::PageImage& image) {
    PIX* pix = image.pix.Get();
    if (!pix) return false;
    if (pixGetDepth(pix) == 1) return true;
    if (image.yres == 98 || image.yres == 196 || image.xres == 204) return true;
    if (pixGetDepth(pix) != 8) return false;
    NUMA* histogram = pixGetGrayHistogram(pix, 4);
    if (!histogram) return false;
    l_float32 total = 0, grey = 0;
    numaGetSum(histogram, &total);
    for (int v = 48; v < 208; ++v) {
        l_float32 n = 0;
        numaGetFValue(histogram, v, &n);
        grey += n;
    }
    numaDestroy(&histogram);
    return total > 0 && grey / total < 0.01f;
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
