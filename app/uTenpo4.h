#pragma once
// TTempo2: the modal tempo dialog ("Tempo2") with the radio buttons "Fast", "Medium" and
// "Slow". It reads and writes the tempo choice (1 Fast, 2 Medium, 3 Slow) that the document
// pipeline owns and binds to it. Owned by the main window (Qt parent); UI thread only.

#include <QDialog>

#include <cstdint>

class QRadioButton;

namespace ruvo {

class TTempo2 : public QDialog {
    Q_OBJECT

public:
    explicit TTempo2(QWidget* parent = nullptr);

    // The tempo choice the dialog reads and writes from now on (its own until bound).
    void BindTempoChoice(std::int32_t& tempoChoice) { m_tempoChoice = &tempoChoice; }

    // TempoChoice := value; checks the button of that class (none for any other value).
    void SetTempo(std::int32_t value);
    std::int32_t GetTempo() const { return *m_tempoChoice; }

    QRadioButton* Fast() const { return m_fast; }
    QRadioButton* Medium() const { return m_medium; }
    QRadioButton* Slow() const { return m_slow; }

public slots:
    // "OK": TempoChoice := the class of the checked button; the dialog closes with OK.
    void OKBtnClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::int32_t m_ownChoice = 1;
    std::int32_t* m_tempoChoice = &m_ownChoice;  // not owned once bound
    QRadioButton* m_fast = nullptr;              // owned by parent
    QRadioButton* m_medium = nullptr;            // owned by parent
    QRadioButton* m_slow = nullptr;              // owned by parent
};

}  // namespace ruvo
