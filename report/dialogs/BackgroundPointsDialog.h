#pragma once

#include "gui/Seam.h"

#include <QDialog>
#include <QPointF>

#include <optional>
#include <utility>

class QDoubleSpinBox;

namespace halvenna {

// "背景の位置合わせ": the true positions on the sheet (mm) of the two points of the form the user
// clicked in the scan, offered at where the scan shows them now.
class BackgroundPointsDialog : public QDialog
{
    Q_OBJECT
public:
    using Points = std::pair<QPointF, QPointF>;
    BackgroundPointsDialog(const Points& shown, QWidget* parent = nullptr);
    Points points() const;

    // The question as the preview asks it: the points as shown; the answer, their true places or
    // nothing for Cancel.
    static Seam<Points, std::optional<Points>>& seam();

    QDoubleSpinBox* edX1;
    QDoubleSpinBox* edY1;
    QDoubleSpinBox* edX2;
    QDoubleSpinBox* edY2;
};

} // namespace halvenna
