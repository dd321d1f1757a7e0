#include "app/Sender.h"

#include "app/AboutBox.h"

TSenderForm* SenderForm = nullptr;

TSenderForm::TSenderForm(QWidget* parent) : QDialog(parent)
{
    SenderForm = this;
    setObjectName(QStringLiteral("SenderForm"));
    setWindowTitle(QStringLiteral("差出人データ"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(halvenna::programIcon());
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPixelSize(12);
    setFont(font);
    setFixedSize(368, 304);
}

TSenderForm::~TSenderForm()
{
    if (SenderForm == this)
        SenderForm = nullptr;
}
