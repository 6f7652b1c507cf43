#include "settings/UploadSectionView.h"

#include "platform/SystemColors.h"
#include "settings/ActivityIndicator.h"
#include "settings/SettingsStyle.h"
#include "settings/SettingsViewModel.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int formIndent = 36;

// A divider with `space` points above and below.
void addDivider(QVBoxLayout* layout, QWidget* parent, int space = 12)
{
    layout->addSpacing(space);
    layout->addWidget(SettingsStyle::divider(parent));
    layout->addSpacing(space);
}

QLineEdit* textField(const QString& placeholder, const QString& name, QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setPlaceholderText(placeholder);
    field->setFont(SettingsStyle::bodyFont());
    return field;
}

void setTextIfDifferent(QLineEdit* field, const QString& text)
{
    if (field->text() != text)
        field->setText(text);
}

} // namespace

UploadSectionView::UploadSectionView(SettingsViewModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
{
    setObjectName(QStringLiteral("UploadSectionView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = SettingsStyle::label(QStringLiteral("Куда загружать файлы"), SettingsStyle::headlineFont(),
                                        SettingsStyle::primaryColor(), this);
    layout->addWidget(header);
    layout->addSpacing(16);

    layout->addWidget(makeProviderRow(UploadProvider::kestrovaCloud, QStringLiteral("cloud.fill"),
                                      QStringLiteral("Kestrova Cloud")));
    addDivider(layout, this);
    layout->addWidget(makeProviderRow(UploadProvider::ssh, QStringLiteral("server.rack"), QStringLiteral("SSH/SFTP")));
    layout->addWidget(makeServerForm());
    addDivider(layout, this);
    layout->addWidget(makeProviderRow(UploadProvider::yandexDisk, QStringLiteral("externaldrive.fill"),
                                      QStringLiteral("Яндекс.Диск")));
    layout->addWidget(makeYandexBlock());
    layout->addWidget(makeTestArea());
    layout->addStretch(1);

    connect(m_model, &SettingsViewModel::settingsChanged, this, &UploadSectionView::refresh);
    connect(m_model, &SettingsViewModel::connectionTestChanged, this, &UploadSectionView::refresh);
    refresh();
}

QPushButton* UploadSectionView::makeProviderRow(UploadProvider provider, const QString& icon, const QString& name)
{
    auto* row = new QPushButton(this);
    row->setObjectName(QStringLiteral("provider_") + UploadProviders::rawValue(provider));
    row->setCursor(Qt::PointingHandCursor);
    row->setFlat(true);
    row->setMinimumHeight(44);
    auto* content = new QHBoxLayout(row);
    content->setContentsMargins(12, 10, 12, 10);
    content->setSpacing(8);
    auto* symbol = SettingsStyle::symbolLabel(icon, 20, SettingsStyle::primaryColor(), row);
    symbol->setFixedWidth(24);
    content->addWidget(symbol);
    auto* title = SettingsStyle::label(name, SettingsStyle::bodyFont(), SettingsStyle::primaryColor(), row);
    title->setObjectName(QStringLiteral("providerName"));
    content->addWidget(title);
    content->addStretch(1);
    connect(row, &QPushButton::clicked, this, [this, provider] { m_model->chooseProvider(provider); });
    m_rows.insert(provider, row);
    return row;
}

QWidget* UploadSectionView::makeServerForm()
{
    m_serverForm = new QWidget(this);
    m_serverForm->setObjectName(QStringLiteral("serverForm"));
    auto* form = new QVBoxLayout(m_serverForm);
    form->setContentsMargins(formIndent, 8, 0, 0);
    form->setSpacing(8);

    m_useSFTP = new QCheckBox(QStringLiteral("SFTP (SSH)"), m_serverForm);
    m_useSFTP->setObjectName(QStringLiteral("useSFTPSwitch"));
    form->addWidget(m_useSFTP);
    m_host = textField(QStringLiteral("Хост"), QStringLiteral("hostField"), m_serverForm);
    form->addWidget(m_host);

    auto* portRow = new QHBoxLayout;
    portRow->setSpacing(8);
    m_port = textField(QStringLiteral("Порт"), QStringLiteral("portField"), m_serverForm);
    portRow->addWidget(m_port, 1);
    auto* reset = new QPushButton(QStringLiteral("Сброс"), m_serverForm);
    reset->setObjectName(QStringLiteral("resetPortButton"));
    reset->setFlat(true);
    reset->setFont(SettingsStyle::captionFont());
    reset->setCursor(Qt::PointingHandCursor);
    portRow->addWidget(reset);
    form->addLayout(portRow);

    m_user = textField(QStringLiteral("Пользователь"), QStringLiteral("userField"), m_serverForm);
    form->addWidget(m_user);
    m_password = textField(QStringLiteral("Пароль"), QStringLiteral("passwordField"), m_serverForm);
    m_password->setEchoMode(QLineEdit::Password);
    form->addWidget(m_password);
    m_useFTPS = new QCheckBox(QStringLiteral("FTPS (TLS)"), m_serverForm);
    m_useFTPS->setObjectName(QStringLiteral("useFTPSSwitch"));
    form->addWidget(m_useFTPS);
    m_directory = textField(QStringLiteral("Папка"), QStringLiteral("directoryField"), m_serverForm);
    form->addWidget(m_directory);
    m_baseURL = textField(QStringLiteral("URL"), QStringLiteral("baseURLField"), m_serverForm);
    form->addWidget(m_baseURL);

    connect(m_useSFTP, &QCheckBox::clicked, m_model, &SettingsViewModel::setUseSFTP);
    connect(reset, &QPushButton::clicked, m_model, &SettingsViewModel::resetPort);
    connect(m_useFTPS, &QCheckBox::clicked, this, [this](bool on) { m_model->edit([on](ServerSettings& s) { s.useFTPS = on; }); });
    auto bindText = [this](QLineEdit* field, QString ServerSettings::*member) {
        connect(field, &QLineEdit::textEdited, this,
                [this, member](const QString& text) { m_model->edit([&](ServerSettings& s) { s.*member = text; }); });
    };
    bindText(m_host, &ServerSettings::ftpHost);
    bindText(m_user, &ServerSettings::ftpUsername);
    bindText(m_password, &ServerSettings::ftpPassword);
    bindText(m_directory, &ServerSettings::ftpDirectory);
    bindText(m_baseURL, &ServerSettings::baseURL);
    // Return in any field keeps what is typed, without waiting for another section or the close.
    for (QLineEdit* field : {m_host, m_port, m_user, m_password, m_directory, m_baseURL})
        connect(field, &QLineEdit::returnPressed, m_model, &SettingsViewModel::saveEdits);
    // Whole numbers in the user's locale; text that is no number leaves the port as it was.
    connect(m_port, &QLineEdit::textEdited, this, [this](const QString& text) {
        bool ok = false;
        const int port = QLocale().toInt(text.trimmed(), &ok);
        if (!ok)
            return;
        m_portShown = port;
        m_model->edit([port](ServerSettings& s) { s.ftpPort = port; });
    });
    return m_serverForm;
}

QWidget* UploadSectionView::makeYandexBlock()
{
    m_yandexBlock = new QWidget(this);
    m_yandexBlock->setObjectName(QStringLiteral("yandexBlock"));
    auto* block = new QVBoxLayout(m_yandexBlock);
    block->setContentsMargins(formIndent, 8, 0, 0);
    block->setSpacing(0);

    m_yandexSignedIn = new QWidget(m_yandexBlock);
    auto* signedIn = new QHBoxLayout(m_yandexSignedIn);
    signedIn->setContentsMargins(0, 0, 0, 0);
    signedIn->setSpacing(8);
    auto* status = SettingsStyle::label(QStringLiteral("✓ Авторизован"), SettingsStyle::captionFont(),
                                        platform::SystemColors::green(), m_yandexSignedIn);
    status->setObjectName(QStringLiteral("yandexSignedInLabel"));
    signedIn->addWidget(status);
    auto* signOut = new QPushButton(QStringLiteral("Выйти"), m_yandexSignedIn);
    signOut->setObjectName(QStringLiteral("yandexSignOutButton"));
    signOut->setFlat(true);
    signOut->setFont(SettingsStyle::captionFont());
    signOut->setCursor(Qt::PointingHandCursor);
    signOut->setStyleSheet(QStringLiteral("QPushButton { color: %1; border: none; }").arg(SettingsStyle::css(platform::SystemColors::red())));
    signedIn->addWidget(signOut);
    signedIn->addStretch(1);
    block->addWidget(m_yandexSignedIn);

    m_yandexSignIn = new QPushButton(QStringLiteral("Авторизоваться"), m_yandexBlock);
    m_yandexSignIn->setObjectName(QStringLiteral("yandexSignInButton"));
    m_yandexSignIn->setCursor(Qt::PointingHandCursor);
    block->addWidget(m_yandexSignIn, 0, Qt::AlignLeft);

    connect(signOut, &QPushButton::clicked, m_model, &SettingsViewModel::signOutYandex);
    connect(m_yandexSignIn, &QPushButton::clicked, this, [this] { m_model->setShowYandexOAuthSheet(true); });
    return m_yandexBlock;
}

QWidget* UploadSectionView::makeTestArea()
{
    m_testArea = new QWidget(this);
    m_testArea->setObjectName(QStringLiteral("testArea"));
    auto* area = new QVBoxLayout(m_testArea);
    area->setContentsMargins(0, 0, 0, 0);
    area->setSpacing(0);
    addDivider(area, m_testArea);

    m_testButton = new QPushButton(m_testArea);
    m_testButton->setObjectName(QStringLiteral("testConnectionButton"));
    m_testButton->setCursor(Qt::PointingHandCursor);
    m_testButton->setMinimumHeight(34);
    // Bordered and prominent: the accent colour, white text.
    m_testButton->setStyleSheet(
        QStringLiteral("QPushButton#testConnectionButton { background: %1; border-radius: 6px; }"
                       "QPushButton#testConnectionButton:disabled { background: rgba(255, 255, 255, 30); }")
            .arg(SettingsStyle::css(SettingsStyle::accentColor())));
    auto* label = new QHBoxLayout(m_testButton);
    label->setContentsMargins(12, 8, 12, 8);
    label->setSpacing(6);
    label->addStretch(1);
    m_testProgress = new ActivityIndicator(12, m_testButton);
    m_testProgress->setObjectName(QStringLiteral("testProgress"));
    label->addWidget(m_testProgress);
    m_testLabel = SettingsStyle::label(QString(), SettingsStyle::bodyFont(), Qt::white, m_testButton);
    m_testLabel->setObjectName(QStringLiteral("testConnectionLabel"));
    label->addWidget(m_testLabel);
    label->addStretch(1);
    area->addWidget(m_testButton);

    connect(m_testButton, &QPushButton::clicked, m_model, &SettingsViewModel::testConnection);
    return m_testArea;
}

void UploadSectionView::refresh()
{
    const ServerSettings& s = m_model->settings();
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
        const bool selected = it.key() == s.uploadProvider;
        QColor accent = SettingsStyle::accentColor();
        accent.setAlpha(selected ? 26 : 0);
        it.value()->setStyleSheet(QStringLiteral("QPushButton { background: %1; border: none; border-radius: 6px; }")
                                      .arg(SettingsStyle::css(accent)));
        it.value()->setProperty("selected", selected);
    }

    m_serverForm->setVisible(s.uploadProvider == UploadProvider::ssh);
    m_useSFTP->setChecked(s.useSFTP);
    setTextIfDifferent(m_host, s.ftpHost);
    if (s.ftpPort != m_portShown || m_port->text().isEmpty()) {
        m_portShown = s.ftpPort;
        setTextIfDifferent(m_port, QLocale().toString(s.ftpPort));
    }
    setTextIfDifferent(m_user, s.ftpUsername);
    setTextIfDifferent(m_password, s.ftpPassword);
    // Hidden under SFTP, but its value stays and is saved as it is.
    m_useFTPS->setVisible(!s.useSFTP);
    m_useFTPS->setChecked(s.useFTPS);
    setTextIfDifferent(m_directory, s.ftpDirectory);
    setTextIfDifferent(m_baseURL, s.baseURL);

    m_yandexBlock->setVisible(s.uploadProvider == UploadProvider::yandexDisk);
    const bool yandexSignedIn = !s.yandexAccessToken.isEmpty();
    m_yandexSignedIn->setVisible(yandexSignedIn);
    m_yandexSignIn->setVisible(!yandexSignedIn);

    m_testArea->setVisible(m_model->isTestOffered());
    const bool testing = m_model->isTestingConnection();
    m_testButton->setEnabled(!m_model->isTestDisabled() && !testing);
    m_testProgress->setVisible(testing);
    m_testLabel->setText(testing ? QStringLiteral("Тестирую...") : QStringLiteral("Тестировать подключение"));
}
