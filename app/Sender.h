#pragma once

#include <QDialog>

// The sender settings dialog, opened from the print window.
class TSenderForm : public QDialog
{
    Q_OBJECT
public:
    explicit TSenderForm(QWidget* parent = nullptr);
    ~TSenderForm() override;
};

extern TSenderForm* SenderForm;
