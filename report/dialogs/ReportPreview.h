#pragma once

#include <QDialog>
#include <QImage>
#include <QScrollArea>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace halvenna {

class ReportDocument;

// One sheet of a report as the preview shows it: drawn when shown, at the zoom chosen, with the
// form's outline under the data. Only the sheet on screen is held as an image.
class PreviewPage : public QWidget
{
    Q_OBJECT
public:
    PreviewPage(const ReportDocument& document, QWidget* parent = nullptr);

    void setPage(int page);
    void setZoom(double zoom); // 1 = actual size on a 96 dpi screen
    void setOutline(bool outline);
    int page() const { return page_; }
    double zoom() const { return zoom_; }
    // The sheet as last drawn, for the page on screen.
    const QImage& image() const { return image_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSize sheetPixels() const;
    void render();

    const ReportDocument& document_;
    int page_ = 0;
    double zoom_ = 1;
    bool outline_ = true;
    QImage image_;
    bool stale_ = true;
};

// "Report Preview": the report's sheets one at a time, with page navigation (first, prior, next,
// last, a page number), zoom, the form's outline, and printing. Keys: Page Down / Page Up next and
// prior, Ctrl+Home / Ctrl+End first and last (Home / End on the sheet), Ctrl++ / Ctrl+- zoom, Esc closes.
class ReportPreview : public QDialog
{
    Q_OBJECT
public:
    ReportPreview(const ReportDocument& document, QWidget* parent = nullptr);

    // Printing from the preview; the caller provides it so that it goes through its seams.
    std::function<void(QWidget* parent)> print;

    int currentPage() const { return view_->page(); } // from 0
    void gotoPage(int page);
    void first() { gotoPage(0); }
    void prior() { gotoPage(currentPage() - 1); }
    void next() { gotoPage(currentPage() + 1); }
    void last();
    void zoomBy(int steps);

private:
    void updateControls();
    void zoomChosen(int index);

    const ReportDocument& document_;
    PreviewPage* view_;
    QScrollArea* area_;
    QPushButton* btnFirst;
    QPushButton* btnPrior;
    QPushButton* btnNext;
    QPushButton* btnLast;
    QSpinBox* edPage;
    QLabel* lblPageCount;
    QComboBox* cmbZoom;
    QCheckBox* cbOutline;
    QPushButton* btnPrint;
    QPushButton* btnClose;
};

} // namespace halvenna
