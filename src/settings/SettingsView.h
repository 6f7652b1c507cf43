#pragma once

#include "settings/SettingsAlertPresenter.h"
#include "settings/SettingsSection.h"

#include <QMap>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>

class AppState;
class AuthManager;
class QPushButton;
class QScrollArea;
class SettingsViewModel;
class YandexSignInSheet;

// The root view of the settings window: a sidebar of four sections and the selected section's
// content, over the model that holds the working copy of the settings. It also hosts what opens
// over the window: the connection test's result alert, the Yandex sign-in sheet and the cloud
// login window.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    // `authManager` nullptr: AuthManager::shared().
    explicit SettingsView(AppState& appState, QWidget* parent = nullptr, AuthManager* authManager = nullptr);
    ~SettingsView() override;

    SettingsViewModel* model() const { return m_model; }
    QSize sizeHint() const override { return QSize(700, 520); }

    // Replaces the message-box alerts (tests).
    void setAlertPresenter(std::unique_ptr<SettingsAlertPresenter> presenter);

    // The cloud login window: 400 by 500, centred, hosting the sign-in view; any earlier one that
    // is still open is closed first.
    void showLoginWindow();
    QWidget* loginWindow() const { return m_loginWindow; }
    YandexSignInSheet* yandexSheet() const;

    QPushButton* sidebarRow(SettingsSection section) const { return m_sidebarRows.value(section); }
    // The content of the selected section.
    QWidget* currentSection() const { return m_section; }

    // The sections' contents, built anew each time a section is shown.
    QWidget* accountSettingsView();
    QWidget* serverSettingsView();
    QWidget* hotkeysSettingsView();
    QWidget* aboutView();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* makeSidebar();
    void updateSidebar();
    void showSelectedSection();
    void presentTestResult();
    void presentSaveFailure(const QString& message);
    void updateYandexSheet();

    SettingsViewModel* m_model;
    // Shared with an alert that opens after the view has gone (a failed save at the close).
    std::shared_ptr<SettingsAlertPresenter> m_alertPresenter;
    std::shared_ptr<bool> m_saveAlertOpen = std::make_shared<bool>(false);
    QMap<SettingsSection, QPushButton*> m_sidebarRows;
    QScrollArea* m_contentArea = nullptr;
    QPointer<QWidget> m_section;
    QPointer<QWidget> m_loginWindow;
    QPointer<YandexSignInSheet> m_yandexSheet;
    bool m_appeared = false;
    bool m_showing = false; // within the first showing, before the window is up
    bool m_closing = false; // the window is being closed
    std::optional<SettingsAlertPresenter::Alert> m_pendingSaveAlert; // until the window is exposed
};
