// Pages into registrations. The reader starts Tesseract once, on the first page file of a run.
#include "desk/sheet/SheetIntake.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "desk/Import.h"

namespace desk {

namespace {

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

// One reader per thread that reads pages; each holds its own recogniser, made on first use (by
// the importing thread, before the readers start) and kept for the rest of the run.
sheet::CSheetReader& Reader(std::size_t index) {
    static std::vector<std::unique_ptr<sheet::CSheetReader>> readers;
    while (readers.size() <= index) readers.push_back(std::make_unique<sheet::CSheetReader>());
    return *readers[index];
}

// What one page file gave, kept until the importer takes it in the files' order.
struct FileOutcome {
    std::string error;  // the file could not be read
    struct Page {
        std::string notSheet;  // why the page is no reply sheet, or ""
        Registration registration;
    };
    std::vector<Page> pages;
};

FileOutcome ReadPageFile(sheet::CSheetReader& reader, const std::string& path, const CImporter& importer) {
    FileOutcome outcome;
    std::vector<sheet::PageImage> pages;
    if (!sheet::LoadPages(path, pages, outcome.error)) {
        if (outcome.error.empty()) outcome.error = "unreadable";
        return outcome;
    }
    const std::string receivedAt = FileTime(path);
    for (std::size_t i = 0; i < pages.size() && !importer.Stopped(); ++i) {
        const sheet::SheetReading reading = reader.Read(pages[i]);
        FileOutcome::Page page;
        if (reading.isSheet)
            page.registration = RegistrationFromSheet(reading, pages[i], path, static_cast<int>(i) + 1, receivedAt);
        else
            page.notSheet = reading.notSheetReason;
        outcome.pages.push_back(std::move(page));
    }
    return outcome;
}

void Take(CImporter& importer, const std::string& path, const FileOutcome& outcome) {
    if (!outcome.error.empty()) {
        importer.FileFailed(path, outcome.error);
        return;
    }
    for (std::size_t i = 0; i < outcome.pages.size(); ++i) {
        if (!outcome.pages[i].notSheet.empty()) {
            importer.Note(path, "page " + std::to_string(i + 1) + ": " + outcome.pages[i].notSheet + ", skipped");
            importer.Add({});
            continue;
        }
        importer.Add({outcome.pages[i].registration});
    }
}

}  // namespace

Registration RegistrationFromSheet(const sheet::SheetReading& reading, const sheet::PageImage& image,
                                   const std::string& path, int page, const std::string& receivedAt) {
    Registration r;
    r.record = reading.record;
    // The reader's own decision (Normalise.cpp), so that a page stored as a scan was read as one.
    r.channel = sheet::DecideGrain(image).Fax() ? "fax" : "scan";
    r.sourceFile = path;
    r.sourceRef = "page " + std::to_string(page);
    r.receivedAt = receivedAt;
    r.dedupKey = sheet::SheetDedupKey(reading.record);
    for (const std::string& problem : reading.problems) r.reviewReasons.push_back(r.sourceRef + ", " + problem);
    return r;
}

void ImportPageFiles(CImporter& importer, const std::vector<std::string>& paths) {
    // A page takes a second or two, nearly all of it in one thread: two readers read two files
    // at once on a machine with two cores. The importer takes them in the files' order, so a
    // run's ids do not depend on which reader finished first.
    const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t workers = std::min({cores, std::size_t{2}, paths.size()});
    std::vector<sheet::CSheetReader*> readers;
    try {
        for (std::size_t w = 0; w < workers; ++w) readers.push_back(&Reader(w));
    } catch (const std::exception& e) {
        for (const std::string& path : paths) importer.FileFailed(path, e.what());
        return;
    }
    std::vector<FileOutcome> outcomes(paths.size());
    std::vector<char> done(paths.size(), 0);
    std::mutex mutex;
    std::condition_variable ready;
    std::atomic<std::size_t> next{0};
    const auto work = [&](sheet::CSheetReader* reader) {
        // Every file taken is marked done, read or not: the importer waits for each in turn.
        for (std::size_t i = next++; i < paths.size(); i = next++) {
            FileOutcome outcome;
            try {
                if (!importer.Stopped()) outcome = ReadPageFile(*reader, paths[i], importer);
            } catch (const std::exception& e) {
                outcome.error = e.what();
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                outcomes[i] = std::move(outcome);
                done[i] = 1;
            }
            ready.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (sheet::CSheetReader* reader : readers) threads.emplace_back(work, reader);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        FileOutcome outcome;
        {
            std::unique_lock<std::mutex> lock(mutex);
            ready.wait(lock, [&] { return done[i] != 0; });
            outcome = std::move(outcomes[i]);
        }
        if (importer.Stopped()) break;
        Take(importer, paths[i], outcome);
    }
    for (std::thread& thread : threads) thread.join();
}

}  // namespace desk
