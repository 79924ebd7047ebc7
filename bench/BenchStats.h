// Timing and summaries shared by the benchmark programs: a QueryPerformanceCounter clock,
// median/min/max of a series, and the result file the run script turns into a table.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

// Milliseconds on the performance counter since an arbitrary start.
inline double NowMs() {
    static const double perMs = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / perMs;
}

struct Summary {
    double median = 0, min = 0, max = 0;
    size_t n = 0;
};

inline Summary Summarize(std::vector<double> values) {
    Summary s;
    s.n = values.size();
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    s.median = values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
    s.min = values.front();
    s.max = values.back();
    return s;
}

// The result file: tab-separated lines the run script reads.
//   ratio  <id> <median> <min> <max> <pairs> <median of A> <median of B>
//   ms     <id> <median> <min> <max> <runs>
//   bytes  <id> <value>
//   raw    <id> <value> ...   (every sample, in the order taken)
//   fail   <id> <reason>
class CResults {
public:
    explicit CResults(const char* path) : file_(path ? std::fopen(path, "w") : stdout) {}
    ~CResults() {
        if (file_ && file_ != stdout) std::fclose(file_);
    }
    CResults(const CResults&) = delete;
    CResults& operator=(const CResults&) = delete;
    bool Ok() const { return file_ != nullptr; }

    void Ratio(const char* id, const std::vector<double>& a, const std::vector<double>& b) {
        std::vector<double> ratios;
        for (size_t i = 0; i < a.size() && i < b.size(); ++i)
            if (b[i] > 0) ratios.push_back(a[i] / b[i]);
        const Summary r = Summarize(ratios), sa = Summarize(a), sb = Summarize(b);
        Line("ratio\t%s\t%.4f\t%.4f\t%.4f\t%u\t%.3f\t%.3f", id, r.median, r.min, r.max,
             static_cast<unsigned>(r.n), sa.median, sb.median);
        Raw((std::string(id) + ".a").c_str(), a);
        Raw((std::string(id) + ".b").c_str(), b);
    }
    void Ms(const char* id, const std::vector<double>& values) {
        const Summary s = Summarize(values);
        Line("ms\t%s\t%.3f\t%.3f\t%.3f\t%u", id, s.median, s.min, s.max, static_cast<unsigned>(s.n));
        Raw(id, values);
    }
    void Bytes(const char* id, unsigned long long value) { Line("bytes\t%s\t%llu", id, value); }
    void Fail(const char* id, const std::string& reason) { Line("fail\t%s\t%s", id, reason.c_str()); }

private:
    void Raw(const char* id, const std::vector<double>& values) {
        std::string line = std::string("raw\t") + id;
        char number[32];
        for (double v : values) {
            std::snprintf(number, sizeof number, "\t%.3f", v);
            line += number;
        }
        Line("%s", line.c_str());
    }
    template <typename... Args>
    void Line(const char* format, Args... args) {
        if (!file_) return;
        std::fprintf(file_, format, args...);
        std::fputc('\n', file_);
        std::fflush(file_);
    }
    std::FILE* file_;
};

// Pair count and warm-up from the command line ("--pairs N", "--warmup N"), with defaults.
struct Rounds {
    int pairs = 21;
    int warmup = 3;
};

inline std::string OptionValue(int argc, char** argv, const char* name) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == name) return argv[i + 1];
    return std::string();
}

inline Rounds ReadRounds(int argc, char** argv) {
    Rounds r;
    const std::string pairs = OptionValue(argc, argv, "--pairs");
    const std::string warmup = OptionValue(argc, argv, "--warmup");
    if (!pairs.empty()) r.pairs = std::max(1, std::atoi(pairs.c_str()));
    if (!warmup.empty()) r.warmup = std::max(0, std::atoi(warmup.c_str()));
    return r;
}

}  // namespace bench
