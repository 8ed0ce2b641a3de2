#pragma once
// TIntenCalProgress: the small stay-on-top progress dialog of a conversion ("Conversion...")
// with its bar `IntProgress`, the `Percent` label and the default button "Cancel". Shown and
// hidden by the document pipeline, never modal. Owned by the main window (Qt parent); UI
// thread only.

#include "app/PipelineViews.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace ruvo {

class TIntenCalProgress : public QDialog, public IProgressView {
    Q_OBJECT

public:
    // `anchor`: the window the dialog is centred on at every start (the main window).
    explicit TIntenCalProgress(QWidget* anchor);

    void ProgressStart(std::int32_t steps) override;
    void ProgressShow() override;
    void ProgressHide() override;
    void ProgressStep() override;
    void ProgressIdle() override;
    bool CancelRequested() const override { return m_cancelRequested != 0; }

    QProgressBar* IntProgress() const { return m_intProgress; }
    QLabel* Percent() const { return m_percent; }
    QPushButton* Cancel() const { return m_cancel; }
    std::int32_t StepSize() const { return m_step; }

    // Bar step for `steps` steps: Round(100 / steps + 0.5), ties to even (4 for 25, 7 for 16).
    static std::int32_t StepFor(std::int32_t steps);
    // The bar's position after one step from `position`; past the maximum it starts over
    // from the minimum.
    static std::int32_t Stepped(std::int32_t position, std::int32_t step, std::int32_t minimum, std::int32_t maximum);

public slots:
    // The "Cancel" button: the running stage stops at its next look at the flag.
    void CancelClick();

protected:
    // The close box and Escape cancel too: a hidden dialog would leave no way to stop.
    void reject() override;

private:
    QWidget* m_anchor;                      // not owned
    QProgressBar* m_intProgress = nullptr;  // owned by parent
    QLabel* m_percent = nullptr;            // owned by parent
    QPushButton* m_cancel = nullptr;        // owned by parent
    std::int32_t m_step = 10;
    std::int32_t m_cancelRequested = 0;  // -1 once Cancel was pressed
};

}  // namespace ruvo
