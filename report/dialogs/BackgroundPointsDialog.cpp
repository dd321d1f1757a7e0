#include "report/dialogs/BackgroundPointsDialog.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace halvenna {

BackgroundPointsDialog::BackgroundPointsDialog(const Points& shown, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("BackgroundPointsDialog"));
    setWindowTitle(QStringLiteral("背景の位置合わせ"));
    const auto box = [this](const char* name, double value) {
        auto* b = new QDoubleSpinBox(this);
        b->setObjectName(QLatin1String(name));
        b->setRange(-100, 2000);
        b->setDecimals(1);
        b->setSingleStep(0.1);
        b->setSuffix(QStringLiteral(" mm"));
        b->setValue(value);
        return b;
    };
    edX1 = box("edX1", shown.first.x());
    edY1 = box("edY1", shown.first.y());
    edX2 = box("edX2", shown.second.x());
    edY2 = box("edY2", shown.second.y());
    auto* form = new QFormLayout;
    const auto row = [this, form](const QString& text, QDoubleSpinBox* edit) {
        auto* label = new QLabel(text, this);
        label->setBuddy(edit);
        form->addRow(label, edit);
    };
    row(QStringLiteral("1 点目の横 (左端から)(&1):"), edX1);
    row(QStringLiteral("1 点目の縦 (上端から)(&2):"), edY1);
    row(QStringLiteral("2 点目の横 (左端から)(&3):"), edX2);
    row(QStringLiteral("2 点目の縦 (上端から)(&4):"), edY2);
    auto* note = new QLabel(QStringLiteral("クリックした 2 点の、用紙の上での本当の位置を入れます。"), this);
    note->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("btnOk"));
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(note);
    layout->addLayout(form);
    layout->addWidget(buttons);
    edX1->setFocus();
    edX1->selectAll();
}

BackgroundPointsDialog::Points BackgroundPointsDialog::points() const
{
    return {QPointF(edX1->value(), edY1->value()), QPointF(edX2->value(), edY2->value())};
}

Seam<BackgroundPointsDialog::Points, std::optional<BackgroundPointsDialog::Points>>& BackgroundPointsDialog::seam()
{
    static Seam<Points, std::optional<Points>> seam(QStringLiteral("BackgroundPoints"),
                                                    [](const Points& shown, QWidget* parent) -> std::optional<Points> {
                                                        BackgroundPointsDialog dialog(shown, parent);
                                                        if (dialog.exec() != QDialog::Accepted)
                                                            return std::nullopt;
                                                        return dialog.points();
                                                    });
    return seam;
}

} // namespace halvenna
