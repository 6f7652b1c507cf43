#include "cloud/RegisterView.h"

#include "app/DarkPalette.h"
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
    // Dark like the settings window, also where it is a window of its own (the sign-up sheet is one).
    DarkPalette::apply(this);
    setWindowTitle(L::text(QStringLiteral("Создать аккаунт"), QStringLiteral("Create Account")));
    setFixedSize(400, 600);

    const auto frame = AuthFormParts::frame(
        this, QStringLiteral("person.badge.plus.fill"),
        L::text(QStringLiteral("Создать аккаунт"), QStringLiteral("Create Account")),
        L::text(QStringLiteral("Присоединяйтесь к Kestrova Cloud"), QStringLiteral("Join Kestrova Cloud")));
    QWidget* form = frame.form;
    auto field = [&](const char* objectName, const QString& caption, const QString& placeholder, bool secure) {
        return AuthFormParts::addField(frame.formLayout, objectName, caption, placeholder, secure, form);
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
    frame.formLayout->addWidget(m_matchLine);

    const auto actions = AuthFormParts::addActions(
        frame.formLayout, L::text(QStringLiteral("Уже есть аккаунт?"), QStringLiteral("Already have an account?")),
        L::text(QStringLiteral("Войти"), QStringLiteral("Sign In")), "signInButton", form);
    m_errorBox = actions.errorBox;
    m_primary = actions.primary;
    m_signIn = actions.link;

    frame.root->addStretch(1);

    frame.root->addWidget(AuthFormParts::termsLabel(
        L::text(QStringLiteral("Создавая аккаунт, вы соглашаетесь с Условиями использования"),
                QStringLiteral("By creating an account, you agree to our Terms of Service")),
        this));

    connect(m_name, &QLineEdit::textEdited, m_model, &RegisterViewModel::setName);
    connect(m_email, &QLineEdit::textEdited, m_model, &RegisterViewModel::setEmail);
    connect(m_password, &QLineEdit::textEdited, m_model, &RegisterViewModel::setPassword);
    connect(m_confirmation, &QLineEdit::textEdited, m_model, &RegisterViewModel::setPasswordConfirmation);
    connect(m_primary, &QPushButton::clicked, m_model, &RegisterViewModel::handleRegister);
    connect(frame.close, &QToolButton::clicked, m_model, &RegisterViewModel::close);
    connect(m_signIn, &QPushButton::clicked, m_model, &RegisterViewModel::close);
    connect(m_model, &RegisterViewModel::changed, this, &RegisterView::refresh);
    connect(m_model, &RegisterViewModel::dismissRequested, this, &QWidget::close);
    refresh();
}

void RegisterView::refresh()
{
    AuthFormParts::syncText(m_name, m_model->name());
    AuthFormParts::syncText(m_email, m_model->email());
    AuthFormParts::syncText(m_password, m_model->password());
    AuthFormParts::syncText(m_confirmation, m_model->passwordConfirmation());
    const bool inputs = m_model->areInputsEnabled();
    for (QWidget* w : {static_cast<QWidget*>(m_name), static_cast<QWidget*>(m_email), static_cast<QWidget*>(m_password),
                       static_cast<QWidget*>(m_confirmation), static_cast<QWidget*>(m_signIn)})
        w->setEnabled(inputs);
    AuthFormParts::showState(*m_model, m_primary, m_errorBox);

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
}
