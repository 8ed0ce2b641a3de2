#include "app/LiveRecording.h"

#include "engine/LiveAnalysis.h"
#include "app/LiveView.h"
#include "audio/EnhWave.h"

#include <QEvent>
#include <QMetaObject>

namespace ruvo {
namespace {

constexpr double kLiveMargin = 0.4;  // the melody analysis' default threshold margin

}  // namespace

TLiveRecording::TLiveRecording(TEnhWaveIn& waveIn, QWidget& client) : QObject(&client), m_client(client) {
    setObjectName(QStringLiteral("LiveRecording"));
    m_view = new TLiveView(&client);  // owned by parent
    m_view->hide();
    for (const char* name : {"WavDisp", "MidiDisp2"}) {
        if (auto* pane = client.findChild<QWidget*>(QString::fromLatin1(name))) pane->installEventFilter(this);
    }
    connect(&waveIn, &TEnhWaveIn::OnOpen, this, &TLiveRecording::Started);
    connect(&waveIn, &TEnhWaveIn::OnArrived, this, &TLiveRecording::Arrived);
    connect(&waveIn, &TEnhWaveIn::OnClose, this, &TLiveRecording::Stopped);
}

TLiveRecording::~TLiveRecording() = default;

void TLiveRecording::PlaceView() {
    // Over the waveform, the note grid and the keyboard beside it, wherever the layout has put
    // them: the keyboard shows the document's rows, which the live notes do not follow.
    QRect area;
    for (const char* name : {"WavDisp", "MidiDisp2", "KeyBoard"}) {
        if (const auto* pane = m_client.findChild<QWidget*>(QString::fromLatin1(name))) area |= pane->geometry();
    }
    m_view->setGeometry(area.isEmpty() ? m_client.rect() : area);
}

bool TLiveRecording::eventFilter(QObject* watched, QEvent* event) {
    if (m_view->isVisible() && (event->type() == QEvent::Resize || event->type() == QEvent::Move)) PlaceView();
    return QObject::eventFilter(watched, event);
}

void TLiveRecording::Started() {
    PlaceView();
    m_view->Clear();
    m_view->show();
    m_view->raise();
    m_cpuSeconds = 0.0;
    try {
        // The analysis is stopped in the destructor, before this object goes.
        m_analysis = std::make_unique<LiveAnalysis>(kLiveMargin, [this] {
            QMetaObject::invokeMethod(this, &TLiveRecording::Drain, Qt::QueuedConnection);
        });
    } catch (const std::exception& e) {
        m_analysis.reset();
        emit OnMessage(QStringLiteral("The live notes cannot start: %1").arg(QString::fromLocal8Bit(e.what())));
    }
}

void TLiveRecording::Arrived(const char* data, std::int32_t size) {
    if (m_analysis == nullptr || size <= 0) return;
    // A copy into the analysis' queue and the view's peaks: nothing here waits.
    m_analysis->Push(data, static_cast<std::size_t>(size));
    m_view->AddSamples(data, size);
}

void TLiveRecording::Stopped() {
    if (m_analysis == nullptr) {
        m_view->hide();
        return;
    }
    // The rest is decided now, so that the note off reaches the output and the work files go
    // before the take is handed over.
    m_analysis->Finish();
    m_analysis->Wait();
    Drain();
}

void TLiveRecording::Drain() {
    if (m_analysis == nullptr) return;
    LiveSnapshot snapshot = m_analysis->Take();
    m_cpuSeconds = m_analysis->CpuSeconds();
    if (m_onEvent) {
        for (const LiveNoteEvent& event : snapshot.Events) m_onEvent(event);
    }
    m_view->SetNotes(std::move(snapshot.Notes), snapshot.FinalCount);
    if (!snapshot.Error.empty()) {
        m_analysis.reset();
        emit OnMessage(QString::fromStdString(snapshot.Error));
        return;
    }
    if (snapshot.Finished) {
        m_analysis.reset();
        m_view->hide();
    }
}

}  // namespace ruvo
