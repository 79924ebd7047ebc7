// Walks files and folders, dispatches each file by kind, and stores what the importers find.
#include "desk/Import.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "desk/InputFile.h"
#include "desk/mail/MailIntake.h"
#include "desk/Printable.h"
#include "desk/sheet/SheetIntake.h"

namespace desk {

namespace fs = std::filesystem;

namespace {

// Registrations per transaction: large enough that commits cost little, small enough that an
// interrupted import loses only a moment's work (it is redone on the next run).
constexpr std::size_t kBatch = 500;
// How long a transaction may hold the write lock: a clerk's save waits at most about this long
// while an import runs (pages take a second each, so their batches are cut by time, not size;
// the online form's posts wait in its own spool, not here). With the pause below, an import
// alone gives up a fortieth of its time.
constexpr std::chrono::milliseconds kBatchTime{200};
// The pause after each commit. SQLite's lock has no queue: without it the importer's next
// transaction begins before a waiting writer of another process wakes, again and again.
constexpr std::chrono::milliseconds kYieldAfterCommit{5};

// Files a folder walk leaves alone: hidden files, and Maildir's tmp folder of deliveries in
// progress (the finished ones are in cur and new).
bool SkippedInWalk(const fs::path& path, bool isDirectory) {
    const std::string name = path.filename().string();
    if (!name.empty() && name[0] == '.') return true;
    if (isDirectory && name == "tmp") {
        std::error_code ec;
        return fs::is_directory(path.parent_path() / "cur", ec) || fs::is_directory(path.parent_path() / "new", ec);
    }
    return false;
}

}  // namespace

SourceKind ClassifyFile(const std::string& path) {
    // Content first: some programs save a single mail with an mbox "From " line, whatever
    // its name; names decide only for kinds that cannot be told apart by their first bytes.
    std::string error;
    const int fd = OpenRegularFile(path, error);
    char head[5] = {};
    const ssize_t got = fd < 0 ? 0 : ::pread(fd, head, sizeof head, 0);
    if (fd >= 0) ::close(fd);
    if (got == 5 && std::string(head, 5) == "From ") return SourceKind::Mbox;
    return SourceKind::Message;
}

std::string SummaryLine(const ImportCounts& c) {
    std::string line = "read " + std::to_string(c.read) + ", new " + std::to_string(c.added) + ", already known " +
                       std::to_string(c.known) + ", needing review " + std::to_string(c.review) + ", rejected " +
                       std::to_string(c.rejected);
    if (c.failedFiles) line += ", unreadable files " + std::to_string(c.failedFiles);
    return line;
}

void CLineObserver::FileLine(const std::string& path, const std::string& text) {
    if (out_) std::fprintf(out_, "velkdesk: %s: %s\n", Printable(path).c_str(), Printable(text).c_str());
}

CImporter::CImporter(CDatabase& db, IImportObserver* observer, const std::atomic<bool>* stop)
    : db_(db), observer_(observer), stop_(stop) {}

CImporter::~CImporter() = default;  // the open batch, if any, rolls back what was not committed

void CImporter::Finish() {
    CommitPending();
    ShowProgress(true);
}

void CImporter::Begin() {
    if (batch_) return;
    batch_ = std::make_unique<CTransaction>(db_);
    batchStarted_ = std::chrono::steady_clock::now();
}

void CImporter::CommitPending() {
    if (!batch_) return;
    batch_->Commit();
    batch_.reset();
    batchSize_ = 0;
    std::this_thread::sleep_for(kYieldAfterCommit);
}

void CImporter::Add(const std::vector<Registration>& registrations) {
    ++counts_.read;
    if (registrations.empty()) ++counts_.rejected;
    for (const Registration& r : registrations) {
        Begin();
        if (db_.Add(r) == AddOutcome::Added) {
            ++counts_.added;
            if (!r.doubts.empty()) ++counts_.review;
        } else {
            ++counts_.known;
        }
        ++batchSize_;
    }
    CommitIfDue();
    ShowProgress(false);
}

void CImporter::CommitIfDue() {
    if (batch_ && (batchSize_ >= kBatch || std::chrono::steady_clock::now() - batchStarted_ >= kBatchTime))
        CommitPending();
}

void CImporter::Reject(const RejectedMessage& rejected) {
    ++counts_.read;
    ++counts_.rejected;
    Begin();
    db_.AddRejected(rejected);
    ++batchSize_;
    CommitIfDue();
    ShowProgress(false);
}

void CImporter::FileFailed(const std::string& path, const std::string& reason) {
    ++counts_.failedFiles;
    if (observer_) observer_->FileLine(path, reason);
}

void CImporter::Note(const std::string& path, const std::string& text) {
    if (observer_) observer_->FileLine(path, text);
}

void CImporter::ShowProgress(bool final) {
    if (observer_) observer_->Progress(counts_, final);
}

bool CImporter::ImportPath(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec) {
        FileFailed(path, ec.message());
        return !Stopped();
    }
    if (!fs::is_directory(status)) return ImportFile(path);
    std::vector<std::string> files;
    fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, ec), end;
    if (ec) {
        FileFailed(path, ec.message());
        return !Stopped();
    }
    for (; it != end; it.increment(ec)) {
        if (ec) {
            FileFailed(path, ec.message());
            break;
        }
        // Links are not followed (the walk stays inside the folder it was given), and only
        // regular files are read: a FIFO or a device would block the import.
        std::error_code typeError;
        const fs::file_status entry = it->symlink_status(typeError);
        const bool isDirectory = fs::is_directory(entry);
        if (SkippedInWalk(it->path(), isDirectory)) {
            if (isDirectory) it.disable_recursion_pending();
            continue;
        }
        if (fs::is_regular_file(entry) && !IsDatabaseFile(it->path().string(), db_.Path()))
            files.push_back(it->path().string());
    }
    // Sorted, so a run's order (and the ids it gives) does not depend on the file system.
    std::sort(files.begin(), files.end());
    // Page files that follow each other are read together, on both cores.
    for (std::size_t i = 0; i < files.size();) {
        std::size_t end = i;
        while (end < files.size() && sheet::IsPageFile(files[end])) ++end;
        if (end > i) {
            ImportPageFiles(*this, std::vector<std::string>(files.begin() + i, files.begin() + end));
            if (Stopped()) return false;
            i = end;
            continue;
        }
        if (!ImportFile(files[i++])) return false;
    }
    return true;
}

// The dispatch by kind of file; an importer of another kind gets its branch here.
bool CImporter::ImportFile(const std::string& path) {
    if (Stopped()) return false;
    if (IsDatabaseFile(path, db_.Path())) {
        FileFailed(path, "is the database itself, not read");
        return true;
    }
    std::string refused;
    const int probe = OpenRegularFile(path, refused);
    if (probe < 0) {
        FileFailed(path, refused);
        return true;
    }
    ::close(probe);
    if (sheet::IsPageFile(path)) {
        ImportPageFiles(*this, {path});
        return !Stopped();
    }
    const SourceKind kind = ClassifyFile(path);
    const bool mbox = kind == SourceKind::Mbox;
    const std::string error = ForEachMessage(path, mbox, [&](GMimeMessage* message, const MessagePlace& place) {
        if (!message) {
            // Named at once as well: a damaged message is rarer than a mail without a record.
            Note(path, place.ref + ": " + place.damage + "; kept as rejected, the rest read on");
            Reject(RejectedFromMessage(nullptr, path, place, place.damage));
            return !Stopped();
        }
        std::string refusal;
        std::vector<Registration> registrations = RegistrationsFromMessage(message, path, place.ref, &refusal);
        if (registrations.empty()) {
            if (!refusal.empty()) Note(path, (place.ref.empty() ? "" : place.ref + ": ") + refusal);
            Reject(RejectedFromMessage(message, path, place,
                                       refusal.empty() ? "no registration record in the message" : refusal));
            return !Stopped();
        }
        for (Registration& r : registrations)
            if (r.receivedAt.empty()) r.receivedAt = place.fallbackReceivedAt;
        Add(registrations);
        return !Stopped();
    });
    if (!error.empty()) FileFailed(path, error);
    return !Stopped();
}

}  // namespace desk
