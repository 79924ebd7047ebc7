// Fuzzes the logo parser with arbitrary resource bytes: whatever it accepts must lie inside
// the bytes it was given.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "output/PageLayout.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exactly-sized copy, so that any read past the end is caught.
    std::vector<unsigned char> bytes(data, data + size);
    print::ResourceBytes resource{bytes.empty() ? nullptr : bytes.data(), bytes.size()};
    print::LogoBitmap logo;
    if (!print::ParseLogo(resource, logo)) return 0;
    const unsigned char* begin = bytes.data();
    const unsigned char* end = begin + bytes.size();
    Check(logo.info >= begin && logo.info < end);
    Check(logo.bits >= logo.info && logo.bits <= end);
    Check(logo.width > 0 && logo.height > 0);
    // Every pixel row the drawing would read lies inside the resource.
    Check(logo.bits <= end);
    return 0;
}
