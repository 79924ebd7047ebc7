// Fuzzes the settings file scan: any bytes, any line lengths. Checks that keys only ever
// take whole line remainders and that the reminder text is built from block lines.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runner/Settings.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::FILE* stream = std::tmpfile();
    if (!stream) return 0;
    if (size) std::fwrite(data, 1, size, stream);
    std::rewind(stream);
    RunnerSettings settings;
    ScanSettingsStream(stream, settings);
    std::fclose(stream);

    const std::string input(reinterpret_cast<const char*>(data), size);
    // Every value a key set appears in the input, and holds no line end of its own.
    for (const std::string* value :
         {&settings.titleText, &settings.offlineButtonText, &settings.onlineButtonText, &settings.runButtonText,
          &settings.noticeTitle, &settings.noticeButtonText, &settings.optOutButtonText, &settings.exitButtonText,
          &settings.missingEntriesMessage, &settings.passwordMismatchMessage}) {
        Check(value->find('\n') == std::string::npos);
        Check(value->empty() || input.find(*value) != std::string::npos);
    }
    Check(settings.recipientAddress.find('\n') == std::string::npos);
    Check(settings.mailSubject == "Registrierung");
    // Reminder lines are joined by CR LF and are never empty.
    const std::string& reminder = settings.reminderText;
    Check(reminder.find("\r\n\r\n") == std::string::npos);
    Check(reminder.empty() || (reminder.compare(0, 2, "\r\n") != 0));
    return 0;
}
