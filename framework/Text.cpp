// Growing-buffer readers for window texts and string resources.
#include "framework/Text.h"

#include <vector>

namespace fw {

std::string GetWindowString(HWND hwnd) {
    // The length can grow between the two calls; read until the text fits with room to spare.
    int capacity = GetWindowTextLengthA(hwnd) + 2;
    for (;;) {
        std::vector<char> buffer(static_cast<size_t>(capacity), '\0');
        int got = GetWindowTextA(hwnd, buffer.data(), capacity);
        if (got < 0) got = 0;
        if (got < capacity - 1) return std::string(buffer.data(), static_cast<size_t>(got));
        capacity *= 2;
    }
}

std::string LoadResString(UINT id, HMODULE module) {
    if (!module) module = GetModuleHandleA(nullptr);
    // LoadStringA truncates silently; a result that fills the buffer may have been cut.
    int capacity = 256;
    for (;;) {
        std::vector<char> buffer(static_cast<size_t>(capacity), '\0');
        int got = LoadStringA(module, id, buffer.data(), capacity);
        if (got <= 0) return std::string();
        if (got < capacity - 1) return std::string(buffer.data(), static_cast<size_t>(got));
        capacity *= 2;
    }
}

}  // namespace fw
