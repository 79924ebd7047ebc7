// `velkdesk import`: walks the given paths, hands each file to the importer of its kind and
// adds what they find to the database in batched transactions, with progress and a summary.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "desk/Database.h"

namespace desk {

struct ImportCounts {
    std::size_t read = 0;      // messages (or pages) read
    std::size_t added = 0;     // registrations new to the database
    std::size_t known = 0;     // registrations already there
    std::size_t review = 0;    // of the new ones, those that need a person
    std::size_t rejected = 0;  // messages without a record (mail ones kept in the rejected list)
    std::size_t failedFiles = 0;
};

// The kinds of file the import reads, told apart by their first bytes ("From " starts an
// mbox). A kind with a plain name of its own (page images, PDF) gets its test here too.
enum class SourceKind { Message, Mbox };

SourceKind ClassifyFile(const std::string& path);

// What an import tells whoever watches it: a front end draws its progress its own way.
class IImportObserver {
public:
    virtual ~IImportObserver() = default;
    // After each message or page; `final` once at the end.
    virtual void Progress(const ImportCounts& counts, bool final) = 0;
    // One line about a file: why it could not be read, or what was noticed in it.
    virtual void FileLine(const std::string& path, const std::string& text) = 0;
};

// Writes each file's line as "velkdesk: FILE: TEXT" to a stream, made printable; no progress.
class CLineObserver : public IImportObserver {
public:
    explicit CLineObserver(std::FILE* out) : out_(out) {}
    void Progress(const ImportCounts&, bool) override {}
    void FileLine(const std::string& path, const std::string& text) override;
private:
    std::FILE* out_;
};

class CImporter : CNonCopyable {
public:
    // `observer` (null for none) hears of progress and of every file that could not be read.
    CImporter(CDatabase& db, IImportObserver* observer, const std::atomic<bool>* stop);
    ~CImporter();

    // Imports a file, or every file under a folder. Returns false when stopped.
    bool ImportPath(const std::string& path);
    // Commits what is pending and ends the progress bar. Call once at the end; the destructor
    // rolls back what is left.
    void Finish();
    // For importers: commits what is pending before a long wait (the next page being read), so
    // no other writer waits for the import's lock meanwhile. Batches are otherwise committed
    // every 500 registrations or every second, whichever comes first.
    void CommitPending();

    // For importers: one message or page has been read, and the registrations it held (none:
    // it counts as rejected).
    void Add(const std::vector<Registration>& registrations);
    // For importers: one message has been read that holds no registration; it is kept for a person.
    void Reject(const RejectedMessage& rejected);
    // For importers: a file could not be read.
    void FileFailed(const std::string& path, const std::string& reason);
    // For importers: one line about a file that was read (a page that is no reply sheet).
    void Note(const std::string& path, const std::string& text);

    const ImportCounts& Counts() const { return counts_; }
    bool Stopped() const { return stop_ && stop_->load(); }

private:
    bool ImportFile(const std::string& path);
    void Begin();
    void CommitIfDue();
    void ShowProgress(bool final);

    CDatabase& db_;
    IImportObserver* observer_;
    const std::atomic<bool>* stop_;
    ImportCounts counts_;
    std::unique_ptr<CTransaction> batch_;
    std::size_t batchSize_ = 0;
    std::chrono::steady_clock::time_point batchStarted_;
};

// "read 10, new 7, already known 2, needing review 1, rejected 1"
std::string SummaryLine(const ImportCounts& counts);

}  // namespace desk
