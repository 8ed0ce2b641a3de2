#include "components/HistMenu.h"

#include "platform/ISettingsStore.h"

#include <QAction>
#include <QMenu>

#include <algorithm>

namespace ruvo {

namespace {

// "H" + index, the value name of entry `index`.
std::string EntryName(std::int32_t index) { return QStringLiteral("H%1").arg(index).toStdString(); }

}  // namespace

std::int32_t THistoryList::Add(const QString& name) {
    const auto found = std::find(m_names.begin(), m_names.end(), name);
    if (found != m_names.end()) {
        QString stored = *found;
        m_names.erase(found);
        m_names.insert(m_names.begin(), std::move(stored));
        return 0;
    }
    m_names.insert(m_names.begin(), name);
    while (Count() > m_capacity) {
        m_names.pop_back();
    }
    return 0;
}

bool THistoryList::Remove(const QString& name) {
    const auto found = std::find(m_names.begin(), m_names.end(), name);
    if (found == m_names.end()) {
        return false;
    }
    m_names.erase(found);
    return true;
}

QString HistoryCaption(std::int32_t index, std::int32_t prefixWidth, const QString& name) {
    const QString prefix = QStringLiteral("&%1 ").arg(index);
    return prefix.rightJustified(prefixWidth, QLatin1Char(' ')) + name;
}

std::int32_t ParseHistoryCount(const QString& text) {
    const QString trimmed = text.trimmed();
    bool ok = false;
    int value = 0;
    if (trimmed.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        value = trimmed.mid(2).toInt(&ok, 16);
    } else {
        value = trimmed.toInt(&ok, 10);
    }
    return ok ? static_cast<std::int32_t>(value) : 0;
}

THistoryMenu::THistoryMenu(ISettingsStore& settings, QObject* parent) : QObject(parent), m_settings(settings) {}

THistoryMenu::~THistoryMenu() {
    if (m_active) {
        SaveHistory();
    }
    ClearMenu();
}

std::vector<QAction*> THistoryMenu::Items() const {
    std::vector<QAction*> items;
    for (const QPointer<QAction>& item : m_items) {
        if (item) {
            items.push_back(item.data());
        }
    }
    return items;
}

void THistoryMenu::SetActive(bool active) {
    if (active == m_active) {
        return;
    }
    if (active && m_target == nullptr) {
        // Without a target there is nowhere to show the list.
        return;
    }
    m_active = active;
    if (active) {
        LoadHistory();
        RebuildMenu();
        return;
    }
    SaveHistory();
    ClearMenu();
}

void THistoryMenu::SetHistoryNum(std::int32_t count) {
    count = std::min(count, m_list.Capacity());
    if (count == m_historyNum) {
        return;
    }
    m_historyNum = count;
    if (m_active) {
        RebuildMenu();
    }
}

void THistoryMenu::SetTargetMenuItem(QAction* item) {
    if (item == m_target) {
        return;
    }
    if (m_active) {
        ClearMenu();
    }
    if (m_target != nullptr) {
        disconnect(m_target, &QObject::destroyed, this, nullptr);
    }
    m_target = item;
    if (item == nullptr) {
        SetActive(false);
        return;
    }
    connect(item, &QObject::destroyed, this, [this] {
        m_target = nullptr;
        m_items.clear();
        m_active = false;
    });
    // A separator never has items of its own here, so it is looked at first.
    const QMenu* menu = item->menu();
    if (item->isSeparator()) {
        m_placement = Placement::AfterSeparator;
    } else if (menu == nullptr || menu->actions().isEmpty()) {
        m_placement = Placement::AsSubItems;
    } else {
        m_placement = Placement::AfterSubItems;
    }
    if (m_active) {
        RebuildMenu();
    }
}

void THistoryMenu::AddHistory(const QString& name) {
    if (name.isEmpty()) {
        return;
    }
    (void)m_list.Add(name);
    RebuildMenu();
}

void THistoryMenu::RemoveHistory(const QString& name) {
    if (m_list.Remove(name)) {
        SaveHistory();
        RebuildMenu();
    }
}

void THistoryMenu::SetClearItemText(const QString& text) {
    m_clearText = text;
    RebuildMenu();
}

std::string THistoryMenu::Section() const { return (m_keyName + QLatin1Char('/') + m_sectionName).toStdString(); }

void THistoryMenu::LoadHistory() {
    m_list.Clear();
    const std::string section = Section();
    const std::optional<std::string> count = m_settings.ReadString(section, "Count");
    // Entries past the list's capacity would be dropped as they are added: they are not read.
    const std::int32_t n =
        std::clamp(count ? ParseHistoryCount(QString::fromStdString(*count)) : 0, 0, m_list.Capacity());
    for (std::int32_t i = n - 1; i >= 0; --i) {
        // A missing entry is skipped: there is no file to open under any placeholder name.
        const std::optional<std::string> name = m_settings.ReadString(section, EntryName(i));
        if (name && !name->empty()) {
            (void)m_list.Add(QString::fromStdString(*name));
        }
    }
}

void THistoryMenu::SaveHistory() {
    const std::string section = Section();
    m_settings.WriteString(section, "Count", std::to_string(m_list.Count()));
    for (std::int32_t i = 0; i < m_list.Count(); ++i) {
        m_settings.WriteString(section, EntryName(i), m_list.At(i).toStdString());
    }
    // Entries past the count, left by a longer list, go.
    for (const std::string& key : m_settings.Keys(section)) {
        bool ok = false;
        const int index = key.size() > 1 && key[0] == 'H' ? QString::fromStdString(key.substr(1)).toInt(&ok) : -1;
        if (ok && index >= m_list.Count()) {
            m_settings.Remove(section, key);
        }
    }
}

QMenu* THistoryMenu::TargetMenu() const {
    if (m_target == nullptr) {
        return nullptr;
    }
    if (m_placement != Placement::AfterSeparator) {
        return m_target->menu();
    }
    for (QObject* owner : m_target->associatedObjects()) {
        if (auto* menu = qobject_cast<QMenu*>(owner)) {
            return menu;
        }
    }
    return nullptr;
}

void THistoryMenu::ClearMenu() {
    // Later, not now: the item being clicked is among them.
    for (const QPointer<QAction>& item : m_items) {
        if (!item) {
            continue;
        }
        for (QObject* owner : item->associatedObjects()) {
            if (auto* menu = qobject_cast<QMenu*>(owner)) {
                menu->removeAction(item);
            }
        }
        item->deleteLater();
    }
    m_items.clear();
    if (m_clearItem) {
        if (auto* menu = qobject_cast<QMenu*>(m_clearItem->parent())) {
            menu->removeAction(m_clearItem);
        }
        m_clearItem->deleteLater();
    }
    m_clearItem = nullptr;
}

void THistoryMenu::RebuildMenu() {
    ClearMenu();
    if (m_target == nullptr || m_historyNum < 1 || m_list.Count() == 0) {
        return;
    }
    if (m_placement == Placement::AsSubItems && m_target->menu() == nullptr) {
        m_ownMenu = std::make_unique<QMenu>();
        m_target->setMenu(m_ownMenu.get());
    }
    QMenu* menu = TargetMenu();
    if (menu == nullptr) {
        return;
    }
    const std::int32_t lastIndex = std::min(m_list.Count(), m_historyNum) - 1;
    // Items go in before `before` (null: at the end).
    QAction* before = nullptr;
    if (m_placement == Placement::AfterSeparator) {
        const QList<QAction*> actions = menu->actions();
        const qsizetype at = actions.indexOf(m_target);
        before = at + 1 < actions.size() ? actions.at(at + 1) : nullptr;
    }
    const bool separator = (m_placement == Placement::AsSubItems && !menu->actions().isEmpty()) ||
                           m_placement == Placement::AfterSeparator;
    if (separator) {
        auto* line = new QAction(menu);  // owned by parent
        line->setSeparator(true);
        menu->insertAction(before, line);
        m_items.emplace_back(line);
    }
    m_prefixWidth = static_cast<std::int32_t>(QString::number(lastIndex).size()) + 2;
    for (std::int32_t i = 0; i <= lastIndex; ++i) {
        const QString& name = m_list.At(i);
        QString caption = HistoryCaption(i, m_prefixWidth, QString());
        // A "&" in the name is shown as itself, not as a shortcut mark.
        caption += QString(name).replace(QLatin1Char('&'), QLatin1String("&&"));
        auto* item = new QAction(caption, menu);  // owned by parent
        item->setData(name);
        item->setStatusTip(name);
        connect(item, &QAction::triggered, this, [this, item] { ItemClick(item); });
        menu->insertAction(before, item);
        m_items.emplace_back(item);
    }
    if (!m_clearText.isEmpty()) {
        m_clearItem = new QAction(m_clearText, menu);  // owned by parent
        m_clearItem->setObjectName(QStringLiteral("ClearHistoryItem"));
        connect(m_clearItem, &QAction::triggered, this, [this] {
            m_list.Clear();
            SaveHistory();
            RebuildMenu();
        });
        menu->insertAction(before, m_clearItem);
    }
}

void THistoryMenu::ItemClick(QAction* item) {
    const QString fileName = item->data().toString();
    emit OnHistorySelected(fileName);
    // An entry that failed to open may have been taken off the list meanwhile.
    if (m_list.Remove(fileName)) {
        AddHistory(fileName);
    }
}

}  // namespace ruvo
