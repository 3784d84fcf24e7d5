#pragma once

#include <QString>

#include <stdexcept>

// Reports a broken precondition the way the platform's assertion handler does: it prints
// where the failure happened and raises an InternalInconsistencyException carrying the
// message, which ends the failing operation and reaches its caller.
class AssertionHandler {
public:
    class InternalInconsistencyException : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    AssertionHandler() = delete;

    // `method` is the failing operation, `source` the class it belongs to, `file` and `line`
    // the place in the source.
    [[noreturn]] static void handleFailureInMethod(const char* method, const char* source,
                                                   const char* file, int line,
                                                   const QString& description);
};
