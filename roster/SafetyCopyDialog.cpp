#include "roster/SafetyCopyDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace halvenna {

SafetyCopyDialog::SafetyCopyDialog(const QList<SafetyCopyInfo>& copies, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("SafetyCopyDialog"));
    setWindowTitle(QStringLiteral("バックアップから復元"));
    lstCopies = new QListWidget(this);
    lstCopies->setObjectName(QStringLiteral("lstCopies"));
    lstCopies->setAccessibleName(QStringLiteral("戻すコピー"));
    for (const SafetyCopyInfo& c : copies)
        lstCopies->addItem(describe(c));
    lstCopies->setCurrentRow(0);
    auto* label = new QLabel(QStringLiteral("戻すコピー(&C):"), this);
    label->setBuddy(lstCopies);
    auto* note = new QLabel(
        QStringLiteral("選んだコピーの名簿・内容・金額に戻します。今のデータは戻す前にバックアップに残します。"), this);
    note->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(this);
    buttons->setAccessibleName(QStringLiteral("操作"));
    QPushButton* ok = buttons->addButton(QStringLiteral("復元(&R)"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("btnRestore"));
    ok->setAccessibleName(QStringLiteral("復元"));
    ok->setDefault(true);
    ok->setEnabled(!copies.isEmpty());
    QPushButton* cancel = buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(lstCopies, &QListWidget::itemActivated, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(lstCopies);
    layout->addWidget(note);
    layout->addWidget(buttons);
    resize(460, 320);
    lstCopies->setFocus();
}

int SafetyCopyDialog::chosen() const
{
    return lstCopies->currentRow();
}

QString SafetyCopyDialog::describe(const SafetyCopyInfo& copy)
{
    const QString text = QStringLiteral("%1  %2 人  (%3の前)")
                             .arg(copy.taken.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")))
                             .arg(copy.members)
                             .arg(copy.reason);
    return copy.damage.isEmpty() ? text : text + QStringLiteral("  ※壊れています");
}

Seam<QList<SafetyCopyInfo>, std::optional<int>>& SafetyCopyDialog::seam()
{
    static Seam<QList<SafetyCopyInfo>, std::optional<int>> seam(
        QStringLiteral("SafetyCopy"), [](const QList<SafetyCopyInfo>& copies, QWidget* parent) -> std::optional<int> {
            SafetyCopyDialog dialog(copies, parent);
            if (dialog.exec() != QDialog::Accepted || dialog.chosen() < 0)
                return std::nullopt;
            return dialog.chosen();
        });
    return seam;
}

} // namespace halvenna
