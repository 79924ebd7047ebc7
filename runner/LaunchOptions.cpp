// Command-line values, the settings path and the opt-out flag decision of VelkRun.
#include "runner/LaunchOptions.h"

#include <cstring>

LaunchOptions launchOptions;
std::string settingsPath;

namespace {

// The CRT's limits for the directory part of a split path (255 characters and the terminator)
// and the buffer start-up takes the directory through.
constexpr std::size_t kMaxDirectoryChars = 255;
constexpr std::size_t kPathBufferSize = 260;

const char kSettingsFileName[] = "VelkRun.ini";

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// White space as C's isspace sees it in the "C" locale; spelled out so that neither the
// current locale nor bytes above 0x7F can change the answer.
bool IsCSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string Argument(const char* const* argv, int index) {
    const char* value = argv[index];
    return StripQuotes(value ? std::string(value) : std::string());
}

// atoi(text) != 0 for the bytes [begin, end), without reading past end and without
// computing the number: digits after the sign make a non-zero value exactly when one of
// them is non-zero, however many there are (atoi itself overflows there).
bool LeadingNumberIsNonZero(const unsigned char* begin, const unsigned char* end) {
    const unsigned char* p = begin;
    while (p != end && IsCSpace(*p)) ++p;
    if (p != end && (*p == '+' || *p == '-')) ++p;
    for (; p != end && *p >= '0' && *p <= '9'; ++p) {
        if (*p != '0') return true;
    }
    return false;
}

}  // namespace

std::string StripQuotes(const std::string& value) {
    std::string result = value;
    if (!result.empty() && result.front() == '"') result.erase(0, 1);
    if (!result.empty() && result.back() == '"') result.pop_back();
    return result;
}

void GetProgramDirectory(const char* path, char* buffer, std::size_t size) {
    if (size == 0 || buffer == nullptr) return;
    std::string result;
    if (path != nullptr) {
        const std::size_t length = std::strlen(path);
        std::size_t start = 0;
        if (length >= 2 && IsAsciiLetter(path[0]) && path[1] == ':') {
            result.assign(path, 2);
            start = 2;
        }
        std::size_t directoryEnd = start;  // one past the last separator
        for (std::size_t i = start; i < length; ++i) {
            if (IsSeparator(path[i])) directoryEnd = i + 1;
        }
        const std::size_t directoryLength = directoryEnd - start;
        result.append(path + start, directoryLength < kMaxDirectoryChars ? directoryLength : kMaxDirectoryChars);
    }
    const std::size_t copied = result.size() < size - 1 ? result.size() : size - 1;
    std::memcpy(buffer, result.data(), copied);
    buffer[copied] = '\0';
}

std::string SettingsPathFor(const char* argument0) {
    char directory[kPathBufferSize];
    GetProgramDirectory(argument0, directory, sizeof directory);
    return std::string(directory) + kSettingsFileName;
}

LaunchRoute RouteForArgumentCount(int argc) {
    if (argc == 3) return LaunchRoute::ShortForm;
    if (argc >= 7) return LaunchRoute::LongForm;
    return LaunchRoute::None;
}

void FillLaunchOptions(int argc, const char* const* argv, LaunchOptions& options) {
    switch (RouteForArgumentCount(argc)) {
    case LaunchRoute::ShortForm:
        options.articleNumber = Argument(argv, 1);
        options.productTitle = Argument(argv, 2);
        break;
    case LaunchRoute::LongForm:
        options.regKey = Argument(argv, 1);
        options.regValue = Argument(argv, 2);
        options.onlineTarget = Argument(argv, 3);
        options.articleNumber = Argument(argv, 4);
        options.productTitle = Argument(argv, 5);
        options.productProgram = Argument(argv, 6);
        if (argc >= 8) options.productParameters = Argument(argv, 7);
        break;
    case LaunchRoute::None:
        break;
    }
}

bool DecodeOptOutFlag(unsigned long type, const unsigned char* data, std::size_t size) {
    if (data == nullptr || size == 0) return false;
    switch (type) {
    case kRegSz:
    case kRegExpandSz:
    case kRegMultiSz:
        // A zero byte is not a digit, so the scan stops at the end of the (first) string, and
        // data the registry returned without a terminator ends at `size`. "%X%" is not expanded.
        return LeadingNumberIsNonZero(data, data + size);
    default:
        return data[0] != 0;
    }
}
