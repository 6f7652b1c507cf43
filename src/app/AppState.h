#pragma once

#include "app/Annotation.h"
#include "app/SecureCredentials.h"
#include "app/ServerSettings.h"

#include <QImage>
#include <QList>
#include <QObject>

#include <functional>
#include <optional>

class AppState : public QObject {
    Q_OBJECT
public:
    explicit AppState(QObject* parent = nullptr);

    // A null image means none.
    QImage capturedImage() const { return m_capturedImage; }
    void setCapturedImage(const QImage& image);
    bool isEditing() const { return m_isEditing; }
    void setIsEditing(bool editing);
    const QList<Annotation>& annotations() const { return m_annotations; }
    void setAnnotations(const QList<Annotation>& annotations);
    const ServerSettings& serverSettings() const { return m_serverSettings; }
    void setServerSettings(const ServerSettings& settings);
    void setLastUsedUploadProvider(UploadProvider provider);

    // Reads the settings from the user defaults and the credentials cache.
    void loadSettings();

    // The process-wide cache of the keychain record, filled by the first AppState: at once, or, for
    // a keychain that may take long (a prompt, an unanswered Secret Service), by a read in the
    // background whose answer is announced with credentialsReadNotification.
    static void loadCredentials();
    // Why the last load could not read the keychain, as a log message; once, then "". The first
    // load runs before the launch's first log line, so the launch logs it; a background read that
    // answers after the launch has asked logs its failure itself.
    static QString takeCredentialsLoadError();
    static std::optional<SecureCredentials> credentials();
    static bool credentialsLoaded();
    // Stores the cloud API token ("" for none) in the cache and the keychain item; the token the
    // cache already holds is not written again.
    static void setKestrovaApiToken(const std::optional<QString>& token);
    // Applies `change` to the cached record and writes the record to the keychain. The cache always
    // takes the change; the item is written only when it is safe (see the .cpp). True when written.
    // A change made from an event that runs while a write on this thread waits for the keychain is
    // applied after that write.
    // While the keychain cannot be read, `change` is kept and run again on the record read back
    // later, so it must own whatever it captures.
    static bool updateCredentials(const std::function<void(SecureCredentials&)>& change);

    // Posted on the GUI thread when the launch's read, run in the background for a keychain that
    // may take long, has answered; AppState::credentials() then holds what it found.
    static inline const QString credentialsReadNotification = QStringLiteral("AppStateCredentialsRead");

    // Tests: forget the cache, as in a new process.
    static void resetCredentialsForTesting();

signals:
    void capturedImageChanged();
    void isEditingChanged();
    void annotationsChanged();
    void serverSettingsChanged();

private:
    // The secrets of the settings from the cache, once the launch's read has answered.
    void takeReadCredentials();

    QImage m_capturedImage;
    bool m_isEditing = false;
    QList<Annotation> m_annotations;
    ServerSettings m_serverSettings;
};
