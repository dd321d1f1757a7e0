#include "gui/TownChooser.h"

#include "data/Error.h"
#include "gui/ErrorReporter.h"
#include "roster/postal/PostalCodeLookup.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace halvenna {

TownChooser::TownChooser(const Request& request, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TownChooser"));
    setWindowTitle(QStringLiteral("住所の選択"));
    lstTowns = new QListWidget(this);
    lstTowns->setObjectName(QStringLiteral("lstTowns"));
    lstTowns->addItems(request.towns);
    lstTowns->setCurrentRow(0);
    const QString code = request.code.size() == 7 ? request.code.left(3) + u'-' + request.code.mid(3) : request.code;
    auto* label = new QLabel(QStringLiteral("〒%1 の住所(&A):").arg(code), this);
    label->setBuddy(lstTowns);
    lstTowns->setAccessibleName(QStringLiteral("〒%1 の住所").arg(code));
    auto* buttons = new QDialogButtonBox(this);
    buttons->setAccessibleName(QStringLiteral("操作"));
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("btnOk"));
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(lstTowns, &QListWidget::itemActivated, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(lstTowns);
    layout->addWidget(buttons);
    resize(360, 100 + 20 * int(qMin<qsizetype>(request.towns.size(), 10)));
    lstTowns->setFocus();
}

int TownChooser::chosen() const
{
    return lstTowns->currentRow();
}

Seam<TownChooser::Request, std::optional<int>>& TownChooser::seam()
{
    static Seam<Request, std::optional<int>> seam(QStringLiteral("TownChooser"),
                                                  [](const Request& request, QWidget* parent) -> std::optional<int> {
                                                      TownChooser dialog(request, parent);
                                                      if (dialog.exec() != QDialog::Accepted || dialog.chosen() < 0)
                                                          return std::nullopt;
                                                      return dialog.chosen();
                                                  });
    return seam;
}

std::optional<QString> TownChooser::townOf(PostalCodeLookup& lookup, const QString& typed, QWidget* parent)
{
    const QStringList towns = lookup.towns(typed);
    // Said where the user expected an address: otherwise nothing would tell why none came.
    if (const QString damage = lookup.takeDamage(); !damage.isEmpty())
        reportError(Error(damage));
    if (towns.isEmpty())
        return std::nullopt;
    if (towns.size() == 1)
        return towns.first();
    const std::optional<int> answer = seam().ask({*PostalCodes::normalize(typed), towns}, parent);
    if (!answer || *answer < 0 || *answer >= towns.size())
        return std::nullopt;
    return towns.at(*answer);
}

} // namespace halvenna
