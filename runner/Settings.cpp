// Reading "VelkRun.ini": fixed line prefixes set single texts, one [RegText] block collects
// the reminder text.
#include "runner/Settings.h"

#include <cstddef>
#include <cstring>

#include "runner/LaunchOptions.h"

const char kDefaultRecipientAddress[] = "registrierung@velk-media.de";

RunnerSettings runnerSettings;

namespace {

const char kRegTextHeader[] = "[RegText]";

struct KeyEntry {
    const char* prefix;
    std::string RunnerSettings::*field;  // null for the [RegText] header
};

// Tried in this order; the first prefix that matches decides.
const KeyEntry kKeys[] = {
    {"TitelText=", &RunnerSettings::titleText},
    {"ButOfflText=", &RunnerSettings::offlineButtonText},
    {"ButOnlText=", &RunnerSettings::onlineButtonText},
    {"ButRunText=", &RunnerSettings::runButtonText},
    {kRegTextHeader, nullptr},
    {"MessageTitel=", &RunnerSettings::noticeTitle},
    {"MessageButOk=", &RunnerSettings::noticeButtonText},
    {"EmailAddress=", &RunnerSettings::recipientAddress},
    {"ButNichtText=", &RunnerSettings::optOutButtonText},
    {"ButExitText=", &RunnerSettings::exitButtonText},
    {"Message1=", &RunnerSettings::missingEntriesMessage},
    {"Message2=", &RunnerSettings::passwordMismatchMessage},
};

bool StartsWith(const std::string& line, const char* prefix, std::size_t length) {
    return line.size() >= length && line.compare(0, length, prefix, length) == 0;
}

}  // namespace

CSettingsScanner::CSettingsScanner(RunnerSettings& settings) : settings_(settings) {}

void CSettingsScanner::ScanLine(const std::string& line) {
    if (!inRegTextBlock_) {
        ScanKeyLine(line);
        return;
    }
    if (!line.empty() && line[0] == '[') {
        // The line that closes the block is used up here: a second "[RegText]" right behind
        // the first does not open a new block.
        inRegTextBlock_ = false;
        return;
    }
    AppendBlockLine(line);
}

void CSettingsScanner::ScanKeyLine(const std::string& line) {
    for (const KeyEntry& key : kKeys) {
        const std::size_t length = std::strlen(key.prefix);
        if (!StartsWith(line, key.prefix, length)) continue;
        if (key.field == nullptr) {
            inRegTextBlock_ = true;  // whatever follows the header on its line is ignored
        } else {
            settings_.*key.field = line.substr(length);
        }
        return;
    }
}

void CSettingsScanner::AppendBlockLine(const std::string& line) {
    std::string& text = settings_.reminderText;
    if (!text.empty()) text += "\r\n";
    // An empty line still has to show as a line of its own in the label.
    text += line.empty() ? std::string(" ") : line;
}

void ScanSettingsStream(std::FILE* stream, RunnerSettings& settings) {
    CSettingsScanner scanner(settings);
    std::string line;
    for (;;) {
        const int c = std::getc(stream);
        if (c == EOF) {
            // A last line without a line end still counts, unless a read error cut it off.
            if (!std::ferror(stream) && !line.empty()) scanner.ScanLine(line);
            return;
        }
        if (c == '\n') {
            scanner.ScanLine(line);
            line.clear();
        } else {
            line.push_back(static_cast<char>(c));
        }
    }
}

bool ReadSettingsFrom(const std::string& path, RunnerSettings& settings) {
    // "r" is text mode in the Windows C runtime: CR LF reads as one line end and Ctrl-Z ends
    // the file, with no character-set conversion.
    std::FILE* stream = std::fopen(path.c_str(), "r");
    if (stream == nullptr) return false;
    ScanSettingsStream(stream, settings);
    std::fclose(stream);
    return true;
}

bool ReadSettings() {
    return ReadSettingsFrom(settingsPath, runnerSettings);
}
