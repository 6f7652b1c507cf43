#include "cloud/RegisterView.h"

#include "app/Localization.h"
#include "cloud/AuthErrorBox.h"
#include "cloud/AuthFormParts.h"
#include "cloud/AuthPrimaryButton.h"
#include "cloud/RegisterViewModel.h"
#include "platform/ImageAssets.h"
#include "platform/SystemColors.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

RegisterView::RegisterView(std::function<void()> onClose, AuthManager* authManager, QWidget* parent)
    : QWidget(parent)
    , m_model(new RegisterViewModel(authManager, this))
{
    m_model->onClose = std::move(onClose);
    setObjectName(QStringLiteral("RegisterView"));
    setWindowTitle(L::text(QStringLiteral("Создать аккаунт"), QStringLiteral("Create Account")));
    setFixedSize(400, 600);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 8, 0, 20);
    root->setSpacing(20);

    auto* topBar = new QHBoxLayout;
    topBar->setContentsMargins(0, 0, 8, 0);
    topBar->addStretch(1);
    QToolButton* close = AuthFormParts::closeButton(this);
    topBar->addWidget(close);
    root->addLayout(topBar);

    root->addWidget(AuthFormParts::header(QStringLiteral("person.badge.plus.fill"),
                                          L::text(QStringLiteral("Создать аккаунт"), QStringLiteral("Create Account")),
                                          L::text(QStringLiteral("Присоединяйтесь к Kestrova Cloud"),
                                                  QStringLiteral("Join Kestrova Cloud")),
                                          this));

    auto* form = new QWidget(this);
    auto* formLayout = new QVBoxLayout(form);
    formLayout->setContentsMargins(20, 0, 20, 0);
    formLayout->setSpacing(16);
    auto field = [&](const char* objectName, const QString& caption, const QString& placeholder, bool secure) {
        QLineEdit* edit = AuthFormParts::textField(placeholder, secure, form);
        edit->setObjectName(QString::fromLatin1(objectName));
        formLayout->addWidget(AuthFormParts::fieldGroup(caption, edit, form));
        return edit;
    };
    m_name = field("nameField", L::text(QStringLiteral("Имя"), QStringLiteral("Name")),
                   L::text(QStringLiteral("Ваше имя"), QStringLiteral("Your name")), false);
    m_email = field("emailField", QStringLiteral("Email"), QStringLiteral("name@example.com"), false);
    m_password = field("passwordField", L::text(QStringLiteral("Пароль"), QStringLiteral("Password")),
                       L::text(QStringLiteral("Минимум 8 символов"), QStringLiteral("At least 8 characters")), true);
    m_confirmation = field("confirmationField",
                           L::text(QStringLiteral("Подтверждение пароля"), QStringLiteral("Confirm Password")),
                           L::text(QStringLiteral("Повторите пароль"), QStringLiteral("Re-enter password")), true);

    m_matchLine = new QWidget(form);
    m_matchLine->setObjectName(QStringLiteral("matchLine"));
    auto* matchLayout = new QHBoxLayout(m_matchLine);
    matchLayout->setContentsMargins(0, 0, 0, 0);
    matchLayout->setSpacing(4);
    m_matchIcon = new QLabel(m_matchLine);
    m_matchText = new QLabel(m_matchLine);
    m_matchText->setObjectName(QStringLiteral("matchText"));
    m_matchText->setFont(AuthFormParts::captionFont());
    matchLayout->addWidget(m_matchIcon);
    matchLayout->addWidget(m_matchText, 1);
    formLayout->addWidget(m_matchLine);

    m_errorBox = new AuthErrorBox(form);
    formLayout->addWidget(m_errorBox);
    m_primary = new AuthPrimaryButton(form);
    formLayout->addWidget(m_primary);

    auto* row = new QHBoxLayout;
    row->setSpacing(4);
    row->addStretch(1);
    row->addWidget(AuthFormParts::secondaryLabel(L::text(QStringLiteral("Уже есть аккаунт?"),
                                                         QStringLiteral("Already have an account?")),
                                                 AuthFormParts::captionFont(), form));
    m_signIn = AuthFormParts::linkButton(L::text(QStringLiteral("Войти"), QStringLiteral("Sign In")),
                                         AuthFormParts::captionFont(), form);
    m_signIn->setObjectName(QStringLiteral("signInButton"));
    row->addWidget(m_signIn);
    row->addStretch(1);
    formLayout->addLayout(row);
    root->addWidget(form);

    root->addStretch(1);

    QLabel* terms = AuthFormParts::secondaryLabel(
        L::text(QStringLiteral("Создавая аккаунт, вы соглашаетесь с Условиями использования"),
                QStringLiteral("By creating an account, you agree to our Terms of Service")),
        AuthFormParts::smallCaptionFont(), this);
    terms->setAlignment(Qt::AlignCenter);
    terms->setWordWrap(true);
    terms->setContentsMargins(20, 0, 20, 0);
    root->addWidget(terms);

    connect(m_name, &QLineEdit::textEdited, m_model, &RegisterViewModel::setName);
    connect(m_email, &QLineEdit::textEdited, m_model, &RegisterViewModel::setEmail);
    connect(m_password, &QLineEdit::textEdited, m_model, &RegisterViewModel::setPassword);
    connect(m_confirmation, &QLineEdit::textEdited, m_model, &RegisterViewModel::setPasswordConfirmation);
    connect(m_primary, &QPushButton::clicked, m_model, &RegisterViewModel::handleRegister);
    connect(close, &QToolButton::clicked, m_model, &RegisterViewModel::close);
    connect(m_signIn, &QPushButton::clicked, m_model, &RegisterViewModel::close);
    connect(m_model, &RegisterViewModel::changed, this, &RegisterView::refresh);
    connect(m_model, &RegisterViewModel::dismissRequested, this, &QWidget::close);
    refresh();
}

void RegisterView::refresh()
{
    auto sync = [](QLineEdit* edit, const QString& value) {
        if (edit->text() != value)
            edit->setText(value);
    };
    sync(m_name, m_model->name());
    sync(m_email, m_model->email());
    sync(m_password, m_model->password());
    sync(m_confirmation, m_model->passwordConfirmation());
    const bool inputs = m_model->areInputsEnabled();
    for (QWidget* w : {static_cast<QWidget*>(m_name), static_cast<QWidget*>(m_email), static_cast<QWidget*>(m_password),
                       static_cast<QWidget*>(m_confirmation), static_cast<QWidget*>(m_signIn)})
        w->setEnabled(inputs);
    m_primary->setEnabled(m_model->isPrimaryEnabled());
    m_primary->setText(m_model->primaryTitle());
    m_primary->setBusy(m_model->isLoading());

    const auto match = m_model->passwordMatch();
    m_matchLine->setVisible(match != RegisterViewModel::PasswordMatch::hidden);
    if (match != RegisterViewModel::PasswordMatch::hidden) {
        const bool same = match == RegisterViewModel::PasswordMatch::matching;
        const QColor colour = same ? platform::SystemColors::green() : platform::SystemColors::red();
        auto image = platform::ImageAssets::symbol(same ? QStringLiteral("checkmark.circle.fill")
                                                        : QStringLiteral("xmark.circle.fill"),
                                                   11, colour);
        m_matchIcon->setPixmap(image ? QPixmap::fromImage(*image) : QPixmap());
        m_matchText->setText(m_model->passwordMatchText());
        QPalette palette = m_matchText->palette();
        palette.setColor(QPalette::WindowText, colour);
        m_matchText->setPalette(palette);
    }

    const auto error = m_model->errorText();
    m_errorBox->setVisible(error.has_value());
    m_errorBox->setMessage(error.value_or(QString()));
}
