// Pages into registrations. The reader starts Tesseract once, on the first page file of a run.
#include "desk/sheet/SheetIntake.h"

#include <leptonica/allheaders.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "desk/Import.h"
#include "desk/sheet/StoredPageImage.h"

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
std::vector<std::unique_ptr<sheet::CSheetReader>>& Readers() {
    static std::vector<std::unique_ptr<sheet::CSheetReader>> readers;
    return readers;
}

sheet::CSheetReader& Reader(std::size_t index) {
    std::vector<std::unique_ptr<sheet::CSheetReader>>& readers = Readers();
    while (readers.size() <= index) readers.push_back(std::make_unique<sheet::CSheetReader>());
    return *readers[index];
}

// What one page file gave, kept until the importer takes it in the files' order.
struct FileOutcome {
    struct Page {
        int number = 0;        // in the file, from 1
        std::string notSheet;  // why the page is no reply sheet, or ""
        Registration registration;
    };
    std::vector<Page> pages;
    std::string error;  // the file could not be read, or not to its end
};

// Reads the file's pages one at a time: only the page in hand is held as an image. Stops between
// pages once `stopped` says so.
FileOutcome ReadPageFile(sheet::CSheetReader& reader, const std::string& path, const std::function<bool()>& stopped) {
    FileOutcome outcome;
    const std::string receivedAt = FileTime(path);
    const auto read = [&](sheet::PageImage& image, int number) {
        if (stopped()) return false;
        const sheet::SheetReading reading = reader.Read(image);
        FileOutcome::Page page;
        page.number = number;
        if (reading.isSheet)
            page.registration = RegistrationFromSheet(reading, image, path, number, receivedAt);
        else
            page.notSheet = reading.notSheetReason;
        outcome.pages.push_back(std::move(page));
        return true;
    };
    if (!sheet::ReadPages(path, read, outcome.error) && outcome.error.empty()) outcome.error = "unreadable";
    return outcome;
}

// The pages read come first: a file refused at its seventh page keeps the six before it.
void Take(CImporter& importer, const std::string& path, const FileOutcome& outcome) {
    for (const FileOutcome::Page& page : outcome.pages) {
        if (!page.notSheet.empty()) {
            importer.Note(path, "page " + std::to_string(page.number) + ": " + page.notSheet + ", skipped");
            importer.Add({});
            continue;
        }
        importer.Add({page.registration});
    }
    if (!outcome.error.empty()) importer.FileFailed(path, outcome.error);
}

}  // namespace

void ReleasePageReaders() {
    Readers().clear();
}

Registration RegistrationFromSheet(const sheet::SheetReading& reading, const sheet::PageImage& image,
                                   const std::string& path, int page, const std::string& receivedAt) {
    Registration r;
    r.record = reading.record;
    // The reader's own decision (Normalise.cpp), so that a page stored as a scan was read as one.
    r.channel = sheet::DecideGrain(image).Fax() ? "fax" : "scan";
    r.sourceFile = path;
    r.sourceRef = "page " + std::to_string(page);
    r.receivedAt = receivedAt;
    r.dedupKey = AnswersKey(reading.record);  // the same registration by any channel is one
    for (desk::Doubt doubt : reading.doubts) {
        doubt.page = page;
        r.doubts.push_back(std::move(doubt));
    }
    // The page as the reader worked on it, so the doubts' boxes can be shown later.
    if (reading.normalised && !r.doubts.empty()) {
        StoredPage stored;
        if (sheet::EncodeStoredPage(reading.normalised.Get(), stored.bytes)) {
            stored.page = page;
            stored.width = pixGetWidth(reading.normalised.Get());
            stored.height = pixGetHeight(reading.normalised.Get());
            stored.format = "tiff-g4";
            r.pages.push_back(std::move(stored));
        }
    }
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
    std::atomic<bool> failed{false};  // the importer failed: no reader goes on
    const std::function<bool()> stopped = [&] { return failed || importer.Stopped(); };
    const auto work = [&](sheet::CSheetReader* reader) {
        // Every file taken is marked done, read or not: the importer waits for each in turn.
        for (std::size_t i = next++; i < paths.size() && !failed; i = next++) {
            FileOutcome outcome;
            try {
                if (!stopped()) outcome = ReadPageFile(*reader, paths[i], stopped);
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
    // The importer may fail (the database locked by another program, or its disk full): the
    // readers then stop between pages and are joined before the error goes on, to end the
    // import with its reason; what was committed stays.
    std::vector<std::thread> threads;
    std::exception_ptr failure;
    try {
        for (sheet::CSheetReader* reader : readers) threads.emplace_back(work, reader);
        for (std::size_t i = 0; i < paths.size(); ++i) {
            FileOutcome outcome;
            {
                std::unique_lock<std::mutex> lock(mutex);
                if (!done[i]) {
                    // The next page takes a second or more: what was read is committed first, so
                    // another writer (a clerk saving a correction) is not kept waiting meanwhile.
                    lock.unlock();
                    importer.CommitPending();
                    lock.lock();
                }
                ready.wait(lock, [&] { return done[i] != 0; });
                outcome = std::move(outcomes[i]);
            }
            if (importer.Stopped()) break;
            Take(importer, paths[i], outcome);
        }
    } catch (...) {
        failure = std::current_exception();
        failed = true;
    }
    for (std::thread& thread : threads) thread.join();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace desk
