#include "app/MidiOutputChoice.h"

#include "platform/ISettingsStore.h"
#include "platform/posix/JackMidiOut.h"

#include <QActionGroup>
#include <QMenu>

namespace ruvo {

namespace {

constexpr const char* kSection = "MidiOutput";
constexpr const char* kKey = "Output";
constexpr const char* kBuiltInValue = "builtin";
constexpr const char* kJackValue = "jack";

}  // namespace

TMidiOutputChoice::TMidiOutputChoice(IMidiOut& builtIn, ISettingsStore& settings, QObject* parent)
    : QObject(parent), m_builtIn(builtIn), m_settings(settings), m_jack(std::make_unique<JackMidiOut>()) {
    // On a JACK thread: only a message to this object's thread.
    m_jack->SetShutdownHandler([this](const std::string& reason) {
        QMetaObject::invokeMethod(
            this, [this, text = QString::fromStdString(reason)] { ServerGone(text); }, Qt::QueuedConnection);
    });
}

TMidiOutputChoice::~TMidiOutputChoice() {
    // The client first: its threads end before the object they post to.
    m_jack->ClosePort();
}

void TMidiOutputChoice::AddMenu(QMenu& setting) {
    QMenu* menu = setting.addMenu(QStringLiteral("MIDI &output"));
    menu->menuAction()->setObjectName(QStringLiteral("MidiOutputMenu"));
    auto* group = new QActionGroup(menu);  // owned by parent
    m_builtInItem = menu->addAction(QStringLiteral("&Built-in synthesizer"));
    m_builtInItem->setObjectName(QStringLiteral("MidiOutputBuiltIn"));
    m_builtInItem->setStatusTip(QStringLiteral("The keyboard and the MIDI playback sound through Ruvo's own synthesizer"));
    m_jackItem = menu->addAction(QStringLiteral("&JACK port ruvo:midi_out"));
    m_jackItem->setObjectName(QStringLiteral("MidiOutputJack"));
    m_jackItem->setStatusTip(
        QStringLiteral("The keyboard and the MIDI playback go to the JACK MIDI port ruvo:midi_out, for other programs"));
    for (QAction* item : {m_builtInItem, m_jackItem}) {
        item->setCheckable(true);
        group->addAction(item);
    }
    connect(m_builtInItem, &QAction::triggered, this, [this] { (void)Choose(MidiOutputKind::BuiltIn); });
    connect(m_jackItem, &QAction::triggered, this, [this] { (void)Choose(MidiOutputKind::Jack); });
    ShowChoice();
}

void TMidiOutputChoice::ShowChoice() {
    if (m_jackItem != nullptr) {
        m_jackItem->setChecked(m_chosen == MidiOutputKind::Jack);
        m_builtInItem->setChecked(m_chosen == MidiOutputKind::BuiltIn);
    }
}

void TMidiOutputChoice::Restore() {
    if (m_settings.ReadString(kSection, kKey) == std::optional<std::string>(kJackValue)) {
        (void)Choose(MidiOutputKind::Jack);
    }
}

bool TMidiOutputChoice::Choose(MidiOutputKind kind) {
    m_chosen = kind;
    m_settings.WriteString(kSection, kKey, kind == MidiOutputKind::Jack ? kJackValue : kBuiltInValue);
    ShowChoice();
    bool opened = true;
    if (kind == MidiOutputKind::Jack) {
        opened = m_jack->Open() == kMidiOpenOk;
        if (opened) {
            m_fault.clear();
        } else {
            SetFault(QString::fromStdString(m_jack->LastError()));
        }
    } else {
        // Notes still sounding on the port stop; the port itself goes with its connections.
        m_jack->Reset();
        m_jack->ClosePort();
        m_fault.clear();
    }
    emit OnOutputChanged();
    return opened;
}

void TMidiOutputChoice::SetFault(const QString& reason) {
    m_fault = QStringLiteral("MIDI output: %1 The built-in synthesizer plays instead.").arg(reason);
    emit OnFault(m_fault);
}

void TMidiOutputChoice::ServerGone(const QString& reason) {
    if (m_jack->IsOpen()) {
        return;  // a server of an earlier opening
    }
    m_jack->ClosePort();
    if (m_chosen == MidiOutputKind::Jack) {
        SetFault(reason);
        emit OnOutputChanged();
    }
}

IMidiOut* TMidiOutputChoice::External() const {
    return m_chosen == MidiOutputKind::Jack && m_jack->IsOpen() ? m_jack.get() : nullptr;
}

IMidiOut& TMidiOutputChoice::Current() const {
    IMidiOut* external = External();
    return external != nullptr ? *external : m_builtIn;
}

std::int32_t TMidiOutputChoice::Open() {
    IMidiOut& output = Current();
    const std::int32_t result = output.Open();
    m_held = result == kMidiOpenOk ? &output : nullptr;
    return result;
}

void TMidiOutputChoice::Reset() { (m_held != nullptr ? *m_held : Current()).Reset(); }

void TMidiOutputChoice::ShortMsg(std::uint32_t message) { (m_held != nullptr ? *m_held : Current()).ShortMsg(message); }

void TMidiOutputChoice::Close() {
    (m_held != nullptr ? *m_held : Current()).Close();
    m_held = nullptr;
}

std::string TMidiOutputChoice::Unavailable() const { return Current().Unavailable(); }

}  // namespace ruvo
