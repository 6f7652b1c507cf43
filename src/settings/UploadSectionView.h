#pragma once

#include "app/UploadProvider.h"

#include <QMap>
#include <QWidget>

class ActivityIndicator;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class SettingsViewModel;

// The upload section: where captures go (the cloud, the own server, Yandex Disk), the own-server
// form, the Yandex sign-in and sign-out, and the connection test. It edits the working copy;
// choosing a provider or pressing Return in a field saves it through the model.
class UploadSectionView : public QWidget {
    Q_OBJECT
public:
    explicit UploadSectionView(SettingsViewModel* model, QWidget* parent = nullptr);

    // The row of a provider ("SSH/SFTP", ...).
    QPushButton* providerRow(UploadProvider provider) const { return m_rows.value(provider); }

private:
    QPushButton* makeProviderRow(UploadProvider provider, const QString& icon, const QString& name);
    QWidget* makeServerForm();
    QWidget* makeYandexBlock();
    QWidget* makeTestArea();
    void refresh();

    SettingsViewModel* m_model;
    QMap<UploadProvider, QPushButton*> m_rows;
    QWidget* m_serverForm = nullptr;
    QCheckBox* m_useSFTP = nullptr;
    QLineEdit* m_host = nullptr;
    QLineEdit* m_port = nullptr;
    int m_portShown = 0;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QCheckBox* m_useFTPS = nullptr;
    QLineEdit* m_directory = nullptr;
    QLineEdit* m_baseURL = nullptr;
    QWidget* m_yandexBlock = nullptr;
    QWidget* m_yandexSignedIn = nullptr;
    QPushButton* m_yandexSignIn = nullptr;
    QWidget* m_testArea = nullptr;
    QPushButton* m_testButton = nullptr;
    ActivityIndicator* m_testProgress = nullptr;
    QLabel* m_testLabel = nullptr;
};
