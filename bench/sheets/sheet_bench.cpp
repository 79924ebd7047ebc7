// Accuracy and speed of the sheet reader on a generated set (make_sheets.sh): every page is
// read and compared with the record it was printed from.
//   sheet_bench SETDIR [-v [RESOLUTION]]     SETDIR holds records.tsv and the folders 300, fine,
//   standard, post; -v lists every field read wrong or flagged; RESOLUTION reads only that folder
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "desk/sheet/ResourceText.h"
#include "desk/sheet/SheetReader.h"

namespace {

std::vector<std::vector<std::string>> ReadRecords(const std::string& path) {
    std::vector<std::vector<std::string>> records;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> fields;
        std::string::size_type start = 0;
        for (;;) {
            const auto tab = line.find('\t', start);
            fields.push_back(Windows1252ToUtf8(line.substr(start, tab == std::string::npos ? tab : tab - start)));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        // The generator's columns are the reader's fields in the same order.
        records.push_back(fields);
    }
    return records;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: sheet_bench SETDIR [-v]\n");
        return 2;
    }
    const std::string set = argv[1];
    const bool verbose = argc > 2 && std::strcmp(argv[2], "-v") == 0;
    const char* only = argc > 3 ? argv[3] : nullptr;
    const auto records = ReadRecords(set + "/records.tsv");
    sheet::CSheetReader reader;

    std::printf("| resolution | sheets | sheets all exact | fields exact | fixed-set fields exact | flagged for review | silent errors | s/page |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    for (const char* resolution : {"300", "fine", "standard", "post"}) {
        if (only && std::strcmp(only, resolution) != 0) continue;
        std::vector<std::filesystem::path> files;
        const std::filesystem::path folder = std::filesystem::path(set) / resolution;
        if (!std::filesystem::exists(folder)) continue;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        int sheets = 0, sheetsExact = 0, fields = 0, fieldsExact = 0, fixed = 0, fixedExact = 0, flagged = 0,
            silent = 0;
        double seconds = 0;
        for (const auto& file : files) {
            const std::size_t index = std::stoul(file.stem().string()) - 1;
            if (index >= records.size()) continue;
            const auto start = std::chrono::steady_clock::now();
            std::vector<sheet::PageImage> pages;
            std::string error;
            if (!sheet::LoadPages(file.string(), pages, error)) {
                std::fprintf(stderr, "%s: %s\n", file.c_str(), error.c_str());
                continue;
            }
            const sheet::SheetReading reading = reader.Read(pages[0]);
            seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            ++sheets;
            bool exact = reading.isSheet;
            if (!reading.isSheet && verbose) std::printf("%s: %s\n", file.c_str(), reading.notSheetReason.c_str());
            for (int i = 0; i < sheet::kSheetFieldCount; ++i) {
                const std::string& truth = records[index][i];
                const sheet::FieldReading& f = reading.fields[i];
                const bool ok = reading.isSheet && f.value == truth;
                // An earlier product is a free-text answer; only the "nein" printed for none is
                // one of a set.
                const sheet::FieldKind kind = sheet::kSheetFields[i].kind;
                const bool isFixed =
                    !sheet::TypedText(kind) && !(kind == sheet::FieldKind::PurchasedBefore && !truth.empty());
                ++fields;
                fieldsExact += ok;
                fixed += isFixed;
                fixedExact += isFixed && ok;
                flagged += !f.problem.empty();
                if (reading.isSheet && !ok && f.problem.empty()) ++silent;
                exact = exact && ok;
                if (verbose && f.rivalMargin >= -1000 && f.inkMismatch >= 0)
                    std::printf("inkscore %s %d margin %d %s %s\n", ok ? "right" : "wrong", f.inkMismatch,
                                f.rivalMargin, resolution, sheet::kSheetFields[i].name);
                if (verbose && (!ok || !f.problem.empty()) && reading.isSheet)
                    std::printf("%s %-10s truth \"%s\" read \"%s\" seen \"%s\" conf %d ink %d margin %d %s%s\n",
                                file.filename().c_str(), sheet::kSheetFields[i].name, truth.c_str(), f.value.c_str(),
                                f.seen.c_str(), f.confidence, f.inkMismatch, f.rivalMargin,
                                ok ? "" : (f.problem.empty() ? "SILENT " : "flagged "), f.problem.c_str());
            }
            sheetsExact += exact;
        }
        if (!sheets) continue;
        std::printf("| %s | %d | %.1f%% | %.2f%% | %.2f%% | %.2f%% | %d | %.2f |\n", resolution, sheets,
                    100.0 * sheetsExact / sheets, 100.0 * fieldsExact / fields, 100.0 * fixedExact / fixed,
                    100.0 * flagged / fields, silent, seconds / sheets);
        std::fflush(stdout);
    }
    return 0;
}
