// VelkRun's command line: the values it carries, where the settings file lies, and the
// decision whether the user has switched the reminder off. Platform-free.
#pragma once

#include <cstddef>
#include <string>

struct LaunchOptions {
    std::string regKey;             // key path under HKEY_LOCAL_MACHINE holding the opt-out flag
    std::string regValue;           // name of the flag value under regKey
    std::string onlineTarget;       // program, document or URL for online registration
    std::string articleNumber;
    std::string productTitle;
    std::string productProgram;     // started on the opt-out route and by "start program"
    std::string productParameters;  // its parameters, may stay empty
};

// Process-wide, written only during start-up, read-only afterwards.
extern LaunchOptions launchOptions;
extern std::string settingsPath;

// Removes one leading double quote, then one trailing double quote from what is left.
std::string StripQuotes(const std::string& value);

// Drive and directory of `path` (directory up to and including the last '\\' or '/', at most
// its first 255 characters). Copies at most size - 1 characters and terminates; size 0 writes
// nothing. A null path gives "".
void GetProgramDirectory(const char* path, char* buffer, std::size_t size);

// The directory of argument 0 (taken through a 260-byte buffer) followed by "VelkRun.ini".
std::string SettingsPathFor(const char* argument0);

enum class LaunchRoute { None, ShortForm, LongForm };

// argc counts argument 0: 3 is the short form, 7 or more the long form, anything else none.
LaunchRoute RouteForArgumentCount(int argc);

// Stores the arguments of the route that argc selects, each through StripQuotes. Short form:
// argv[1], argv[2] -> articleNumber, productTitle. Long form: argv[1..6], and argv[7] only when
// present; later arguments are ignored. Other counts and the fields a route does not name are
// left untouched. A null argument reads as "".
void FillLaunchOptions(int argc, const char* const* argv, LaunchOptions& options);

// Registry value types that matter for the opt-out flag.
constexpr unsigned long kRegSz = 1;
constexpr unsigned long kRegExpandSz = 2;
constexpr unsigned long kRegMultiSz = 7;

// Whether the opt-out flag is set, from the type and the `size` data bytes of a registry
// query. Texts (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ's first string) are set when their leading
// decimal number, read by atoi's rules, is non-zero; any other type when its first byte is
// non-zero. Only the `size` bytes are looked at; no data is not set.
bool DecodeOptOutFlag(unsigned long type, const unsigned char* data, std::size_t size);
