#pragma once

#include <QList>
#include <QWidget>

class HotkeyRecorderView;
class HotkeySaveToast;
class SettingsViewModel;

// The hot-keys section: three recorders bound to the working copy's hot-key settings, two hints
// and the Save button with its toast. A recorded combination takes effect only after a save.
class HotkeysSectionView : public QWidget {
    Q_OBJECT
public:
    explicit HotkeysSectionView(SettingsViewModel* model, QWidget* parent = nullptr);

    // Area, full screen, screen recording.
    const QList<HotkeyRecorderView*>& recorders() const { return m_recorders; }
    HotkeySaveToast* toast() const { return m_toast; }

private:
    SettingsViewModel* m_model;
    QList<HotkeyRecorderView*> m_recorders;
    HotkeySaveToast* m_toast;
};
