// RAII owners for the C libraries of the desk: a GObject reference (GMime's objects and
// streams), an open SQLite database, a prepared statement and a file descriptor. None can be copied; each
// releases what it holds on every path.
#pragma once

#include <unistd.h>

#include "framework/NonCopyable.h"

#include <glib-object.h>
#include <sqlite3.h>

#include <utility>

namespace desk {

using ::CNonCopyable;

// Owns one reference to a GObject of type T. `Adopt` takes a reference the caller was given
// (a *_new result); `Ref` adds one of its own to a borrowed pointer. `Get` checks nothing;
// `As` returns the object only if it is an instance of the given GType.
template <typename T>
class CGObject : CNonCopyable {
public:
    CGObject() = default;
    static CGObject Adopt(T* object) { return CGObject(object); }
    static CGObject Ref(T* object) {
        if (object) g_object_ref(object);
        return CGObject(object);
    }
    CGObject(CGObject&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    CGObject& operator=(CGObject&& other) noexcept {
        if (this != &other) {
            Reset();
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    ~CGObject() { Reset(); }
    void Reset() {
        if (object_) g_object_unref(object_);
        object_ = nullptr;
    }
    T* Get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
private:
    explicit CGObject(T* object) : object_(object) {}
    T* object_ = nullptr;
};

// An open database connection, closed with sqlite3_close_v2.
// A file descriptor, closed on scope exit.
class CFd : CNonCopyable {
public:
    CFd() = default;
    ~CFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    void Reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    int Get() const { return fd_; }

private:
    int fd_ = -1;
};

class CSqliteDb : CNonCopyable {
public:
    CSqliteDb() = default;
    ~CSqliteDb() { Close(); }
    sqlite3** Receive() { Close(); return &db_; }
    sqlite3* Get() const { return db_; }
    void Close() {
        if (db_) sqlite3_close_v2(db_);
        db_ = nullptr;
    }
private:
    sqlite3* db_ = nullptr;
};

// A prepared statement, finalised on scope exit.
class CStatement : CNonCopyable {
public:
    CStatement() = default;
    CStatement(CStatement&& other) noexcept : stmt_(std::exchange(other.stmt_, nullptr)) {}
    CStatement& operator=(CStatement&& other) noexcept {
        if (this != &other) {
            if (stmt_) sqlite3_finalize(stmt_);
            stmt_ = std::exchange(other.stmt_, nullptr);
        }
        return *this;
    }
    ~CStatement() {
        if (stmt_) sqlite3_finalize(stmt_);
    }
    sqlite3_stmt** Receive() {
        if (stmt_) sqlite3_finalize(stmt_);
        stmt_ = nullptr;
        return &stmt_;
    }
    sqlite3_stmt* Get() const { return stmt_; }
private:
    sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace desk
