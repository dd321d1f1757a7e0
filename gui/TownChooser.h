#pragma once

#include "gui/Seam.h"

#include <QDialog>
#include <QStringList>

#include <optional>

class QListWidget;

namespace halvenna {

// The towns one postal code covers, offered when the code fills an empty address: Enter or a
// double click takes the one chosen, Esc keeps the address empty. The answer is the town's index.
class TownChooser : public QDialog
{
    Q_OBJECT
public:
    struct Request
    {
        QString code; // "1500001"
        QStringList towns;
    };

    explicit TownChooser(const Request& request, QWidget* parent = nullptr);
    int chosen() const;

    static Seam<Request, std::optional<int>>& seam();

    QListWidget* lstTowns;
};

} // namespace halvenna
