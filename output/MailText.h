// The registration mail text and the other texts of the mail hand-off (received date, the
// explanation with recipient and subject, the mailto: URL). Platform-free.
#pragma once

#include <ctime>
#include <string>

#include "form/RegistrationRecord.h"

// The 29-line record the registration desk reads: "<new>", the version line, one line per
// answer in a fixed order, "</new>", each line ended by CR LF. Values stand verbatim (no
// escaping, no trimming); the text is 666 bytes plus the lengths of the 26 values.
std::string BuildMailText(const RegistrationRecord& record);

// A local broken-down time as "year/month/day hour:minute" without leading zeros,
// e.g. "2002/3/5 9:7".
std::string FormatReceivedDate(const std::tm& local);

// printf-style "%s" substitution without a format call: the first "%s" of `format` takes
// `first`, the second takes `second`, further ones nothing; "%%" gives "%"; any other "%"
// stays as it is. The arguments are never read as formats, and nothing is cut.
std::string FormatTwoStrings(const std::string& format, const std::string& first, const std::string& second);

// "mailto:" + recipient + "?Subject=" + subject, both parts as they are (no percent-encoding).
std::string BuildMailtoUrl(const std::string& recipient, const std::string& subject);
