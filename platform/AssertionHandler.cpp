#include "platform/AssertionHandler.h"

#include "platform/PlatformLog.h"

void AssertionHandler::handleFailureInMethod(const char* method, const char* source,
                                             const char* file, int line,
                                             const QString& description) {
    qCWarning(lcPlatform, "*** Assertion failure in %s (%s), %s:%d: %s", method, source, file, line,
              qUtf8Printable(description));
    throw InternalInconsistencyException(description.toStdString());
}
