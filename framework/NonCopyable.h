// The base of every RAII guard, on Windows and in the desk's Linux program alike: a guard
// owns one thing, so it can never be copied. Platform-free.
#pragma once

class CNonCopyable {
protected:
    CNonCopyable() = default;
    ~CNonCopyable() = default;
public:
    CNonCopyable(const CNonCopyable&) = delete;
    CNonCopyable& operator=(const CNonCopyable&) = delete;
};
