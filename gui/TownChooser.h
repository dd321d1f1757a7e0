#pragma once

#include "gui/Seam.h"

#include <QDialog>
#include <QStringList>

#include <optional>

class QListWidget;

namespace halvenna {

class PostalCodeLookup;

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

    // The town a typed postal code fills an address with, from the window's lookup: a data file
    // found damaged is reported first (the lookup goes on without it), the list is offered where
    // the code covers several towns. Nothing for no code, an unknown one, no data, or Esc.
    static std::optional<QString> townOf(PostalCodeLookup& lookup, const QString& typed, QWidget* parent);

    QListWidget* lstTowns;
};

} // namespace halvenna
