#pragma once

#include <QDialog>
#include <QElapsedTimer>

class QLabel;
class QProgressBar;
class QPushButton;

namespace halvenna {

// "Report Status": shown while sheets go to the printer or a file, with a button that stops the
// output. It lets the program's events through after every sheet, so the window stays alive
// while the rest of the program waits for it.
class ReportStatusDialog : public QDialog
{
    Q_OBJECT
public:
    ReportStatusDialog(const QString& reportName, const QString& destination, QWidget* parent = nullptr);

    // Shows the dialog over the program (other windows do not react meanwhile).
    void start();
    // After a sheet: shows how far the output is and lets events through. False once the user
    // has cancelled.
    bool step(int done, int total);
    bool cancelled() const { return cancelled_; }

    void reject() override; // Cancel, Esc or the close box: stop the output

private:
    void showProgress(int done, int total);

    QLabel* lblStatus;
    QProgressBar* pbPages;
    QPushButton* btnCancel;
    QElapsedTimer shown_;
    qint64 lastShown_ = -1;
    bool cancelled_ = false;
};

} // namespace halvenna
