#pragma once

#include "gui/Seam.h"
#include "roster/model/SafetyCopy.h"

#include <QDialog>
#include <QList>

#include <optional>

class QListWidget;

namespace halvenna {

// "バックアップから復元": the safety copies kept, newest first (date and time, members, what it was
// taken before); the answer is the one chosen, or nothing for Cancel.
class SafetyCopyDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SafetyCopyDialog(const QList<SafetyCopyInfo>& copies, QWidget* parent = nullptr);
    int chosen() const;

    static QString describe(const SafetyCopyInfo& copy);
    static Seam<QList<SafetyCopyInfo>, std::optional<int>>& seam();

    QListWidget* lstCopies;
};

} // namespace halvenna
