#pragma once
// THistoryMenu: the recent-files list, kept in the settings store (key KeyName, section
// SectionName: "Count" and "H0" ... newest first) and shown as numbered items "&0 name" in an
// existing menu. Choosing an item fires OnHistorySelected and moves the name to the top.
// Owned by the window whose menu it fills (Qt parent); UI thread only.

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QAction;

namespace ruvo {

class ISettingsStore;

// Most-recently-used names, newest first, without duplicates (exact, case-sensitive).
class THistoryList {
public:
    explicit THistoryList(std::int32_t capacity = 32) : m_capacity(capacity) {}
    // Promote to front: a new name goes to index 0 and the list is trimmed to the capacity
    // from its end; a known name moves to index 0. Returns 0, the name's new index.
    std::int32_t Add(const QString& name);
    void Clear() { m_names.clear(); }
    // Takes `name` off the list; false when it was not on it.
    bool Remove(const QString& name);
    std::int32_t Count() const { return static_cast<std::int32_t>(m_names.size()); }
    std::int32_t Capacity() const { return m_capacity; }
    const QString& At(std::int32_t index) const { return m_names.at(static_cast<std::size_t>(index)); }

private:
    std::int32_t m_capacity;
    std::vector<QString> m_names;
};

// The caption of entry `index`: "&" + index + " " left-padded with blanks to `prefixWidth`,
// then the name.
QString HistoryCaption(std::int32_t index, std::int32_t prefixWidth, const QString& name);
// "Count" as stored: decimal, or hexadecimal after "0x"/"0X"; anything else reads as 0.
std::int32_t ParseHistoryCount(const QString& text);

class THistoryMenu : public QObject {
    Q_OBJECT

public:
    // Where the entries go, computed when the target is set.
    enum class Placement : std::uint8_t {
        AfterSubItems = 0,  // appended after the target menu's own items
        AsSubItems = 1,     // the target has no items: the entries become its items
        AfterSeparator = 2  // the target is a separator: the entries follow it in its menu
    };

    THistoryMenu(ISettingsStore& settings, QObject* parent = nullptr);
    ~THistoryMenu() override;

    bool Active() const { return m_active; }
    // True loads the list and builds the items (a target must be set, otherwise it stays
    // false); false saves the list and removes the items.
    void SetActive(bool active);
    std::int32_t HistoryNum() const { return m_historyNum; }
    // How many names are shown (at most the list's capacity); 0 shows none.
    void SetHistoryNum(std::int32_t count);
    QAction* TargetMenuItem() const { return m_target; }
    // A menu's own action (QMenu::menuAction()) or a separator inside a menu; none makes
    // the component inactive.
    void SetTargetMenuItem(QAction* item);
    void SetKeyName(const QString& key) { m_keyName = key; }
    void SetSectionName(const QString& section) { m_sectionName = section; }

    // Puts `name` at the top of the list and rebuilds the items; an empty name is ignored.
    void AddHistory(const QString& name);
    // Takes `name` off the list (a file that no longer opens), saves and rebuilds the items.
    void RemoveHistory(const QString& name);
    // With a text, an item of that text ends the entries and empties the list (saved at once).
    void SetClearItemText(const QString& text);
    QAction* ClearItem() const { return m_clearItem; }

    // The list, newest first (all names, not only the shown ones).
    const THistoryList& List() const { return m_list; }
    Placement PlacementMode() const { return m_placement; }
    std::int32_t PrefixWidth() const { return m_prefixWidth; }
    // The entries' items as they stand in the menu (the separator, when one was added, first).
    std::vector<QAction*> Items() const;

    void LoadHistory();
    void SaveHistory();

signals:
    void OnHistorySelected(const QString& fileName);

private:
    std::string Section() const;
    QMenu* TargetMenu() const;
    void ClearMenu();
    void RebuildMenu();
    void ItemClick(QAction* item);

    ISettingsStore& m_settings;
    THistoryList m_list;
    QString m_keyName;
    QString m_sectionName = QStringLiteral("History");
    QAction* m_target = nullptr;  // not owned; cleared when it is destroyed
    Placement m_placement = Placement::AfterSubItems;
    std::vector<QPointer<QAction>> m_items;  // owned by the menu they stand in
    QPointer<QAction> m_clearItem;           // owned by the menu it stands in
    QString m_clearText;
    std::unique_ptr<QMenu> m_ownMenu;        // the sub-menu made for a target without one
    std::int32_t m_historyNum = 8;
    std::int32_t m_prefixWidth = 0;
    bool m_active = false;
};

}  // namespace ruvo
