// The texts of "VelkRun.ini": captions, reminder text, notice texts and the recipient of the
// registration mail, read once at start-up by a line-prefix scan. Platform-free.
#pragma once

#include <cstdio>
#include <string>

// The publisher's registration desk; "EmailAddress=" in the settings file overrides it.
extern const char kDefaultRecipientAddress[];

struct RunnerSettings {
    std::string titleText;
    std::string offlineButtonText;
    std::string onlineButtonText;
    std::string runButtonText;
    std::string reminderText;  // the [RegText] block, lines joined by "\r\n"
    std::string noticeTitle;
    std::string noticeButtonText;
    std::string recipientAddress = kDefaultRecipientAddress;
    std::string optOutButtonText;
    std::string exitButtonText;
    std::string missingEntriesMessage;
    std::string passwordMismatchMessage;
    std::string mailSubject = "Registrierung";  // no line of the file sets it
};

// Process-wide, written only during start-up, read-only afterwards.
extern RunnerSettings runnerSettings;

// The scan of the settings file, fed one line at a time (each line without its line end).
// Keeps whether the lines belong to a [RegText] block.
class CSettingsScanner {
public:
    explicit CSettingsScanner(RunnerSettings& settings);
    CSettingsScanner(const CSettingsScanner&) = delete;
    CSettingsScanner& operator=(const CSettingsScanner&) = delete;

    void ScanLine(const std::string& line);

private:
    void ScanKeyLine(const std::string& line);
    void AppendBlockLine(const std::string& line);

    RunnerSettings& settings_;
    bool inRegTextBlock_ = false;
};

// Reads lines of any length (zero bytes included) from an open stream and scans them. Stops
// at the end of the stream, or at a read error: the complete lines before it are kept, a
// line cut off by the error is dropped.
void ScanSettingsStream(std::FILE* stream, RunnerSettings& settings);

// Opens `path` for reading in text mode, scans it and closes it. False, with `settings`
// unchanged, when the file cannot be opened; true otherwise, even when nothing matched.
bool ReadSettingsFrom(const std::string& path, RunnerSettings& settings);

// ReadSettingsFrom(settingsPath, runnerSettings).
bool ReadSettings();
