#include "services/TVKLoginItem.h"

#include "platform/LoginItemsList.h"

namespace {

LoginItemsList::Entry applicationEntry(const QString& appPath) {
    return {QStringLiteral("de.tolvarek.zwirl"), QStringLiteral("zwirl"),
            QStringLiteral("de.tolvarek.zwirl"), appPath};
}

// Paths are compared as text, case-sensitively; canonically equivalent Unicode spellings of
// one name count as equal.
bool samePath(const QString& a, const QString& b) {
    return a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}

} // namespace

void TVKLoginItem::addAppAsLoginItem(const QString& appPath) {
    std::optional<LoginItemsList> loginItems = LoginItemsList::sessionLoginItems();
    if (!loginItems)
        return;
    loginItems->insertItem(applicationEntry(appPath));
}

void TVKLoginItem::deleteAppFromLoginItem(const QString& appPath) {
    std::optional<LoginItemsList> loginItems = LoginItemsList::sessionLoginItems();
    if (!loginItems)
        return;
    // The walk goes over a snapshot, so removing entries does not disturb it.
    const QStringList items = loginItems->snapshot();
    for (const QString& item : items) {
        const std::optional<QString> program = loginItems->resolveItem(item);
        if (program && samePath(*program, appPath))
            loginItems->removeItem(item);
    }
}
