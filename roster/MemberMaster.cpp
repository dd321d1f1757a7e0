#include "roster/MemberMaster.h"

#include "app/AboutBox.h"
#include "data/DataModule.h"
#include "data/RecordRules.h"

TMemberMasterForm* MemberMasterForm = nullptr;

TMemberMasterForm::TMemberMasterForm(QWidget* parent) : QDialog(parent)
{
    MemberMasterForm = this;
    setObjectName(QStringLiteral("MemberMasterForm"));
    setWindowTitle(QStringLiteral("名簿登録一覧"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(halvenna::programIcon());
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPixelSize(12);
    setFont(font);
    setSizeGripEnabled(true);
    resize(797, 511);
}

TMemberMasterForm::~TMemberMasterForm()
{
    if (MemberMasterForm == this)
        MemberMasterForm = nullptr;
}

void TMemberMasterForm::SplitZipAndTel()
{
    halvenna::rules::splitZipAndTel(DataModule1->tbMemberMaster);
}
