#include "cloud/LoginView.h"

#include "app/DarkPalette.h"
#include "app/Localization.h"
#include "cloud/AuthErrorBox.h"
#include "cloud/AuthFormParts.h"
#include "cloud/AuthPrimaryButton.h"
#include "cloud/LoginViewModel.h"
#include "cloud/RegisterView.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

LoginView::LoginView(std::function<void()> onSuccess, std::function<void()> onClose, AuthManager* authManager,
                     QWidget* parent)
    : QWidget(parent)
    , m_model(new LoginViewModel(authManager, this))
{
    m_model->onSuccess = std::move(onSuccess);
    m_model->onClose = std::move(onClose);
    setObjectName(QStringLiteral("LoginView"));
    // Dark like the settings window, also where it is a window of its own (the sign-up sheet is one).
    DarkPalette::apply(this);
    setWindowTitle(QStringLiteral("Kestrova Cloud"));
    setFixedSize(400, 500);

    const auto frame = AuthFormParts::frame(this, QStringLiteral("cloud.fill"), QStringLiteral("Kestrova Cloud"),
                                            L::text(QStringLiteral("Войдите в свой аккаунт"),
                                                    QStringLiteral("Sign in to your account")));
    m_email = AuthFormParts::addField(frame.formLayout, "emailField", QStringLiteral("Email"),
                                      QStringLiteral("name@example.com"), false, frame.form);
    m_password = AuthFormParts::addField(frame.formLayout, "passwordField",
                                         L::text(QStringLiteral("Пароль"), QStringLiteral("Password")),
                                         L::text(QStringLiteral("Введите пароль"), QStringLiteral("Enter password")),
                                         true, frame.form);
    const auto actions = AuthFormParts::addActions(
        frame.formLayout, L::text(QStringLiteral("Нет аккаунта?"), QStringLiteral("Don't have an account?")),
        L::text(QStringLiteral("Создать аккаунт"), QStringLiteral("Create Account")), "createAccountButton", frame.form);
    m_errorBox = actions.errorBox;
    m_primary = actions.primary;
    m_createAccount = actions.link;

    frame.root->addStretch(1);

    auto* footer = new QVBoxLayout;
    footer->setSpacing(4);
    QPushButton* forgot = AuthFormParts::linkButton(L::text(QStringLiteral("Забыли пароль?"), QStringLiteral("Forgot Password?")),
                                                    AuthFormParts::captionFont(), this);
    forgot->setObjectName(QStringLiteral("forgotPasswordLink"));
    footer->addWidget(forgot, 0, Qt::AlignHCenter);
    footer->addWidget(AuthFormParts::termsLabel(L::text(QStringLiteral("Входя, вы соглашаетесь с Условиями использования"),
                                                        QStringLiteral("By signing in, you agree to our Terms of Service")),
                                                this));
    frame.root->addLayout(footer);

    // Return in a field submits nothing: only the button signs in.
    connect(m_email, &QLineEdit::textEdited, m_model, &LoginViewModel::setEmail);
    connect(m_password, &QLineEdit::textEdited, m_model, &LoginViewModel::setPassword);
    connect(m_primary, &QPushButton::clicked, m_model, &LoginViewModel::handleLogin);
    connect(frame.close, &QToolButton::clicked, m_model, &LoginViewModel::close);
    connect(m_createAccount, &QPushButton::clicked, m_model, &LoginViewModel::showRegister);
    connect(forgot, &QPushButton::clicked, m_model, &LoginViewModel::forgotPassword);
    connect(m_model, &LoginViewModel::changed, this, &LoginView::refresh);
    connect(m_model, &LoginViewModel::registerRequested, this, &LoginView::presentRegister);
    connect(m_model, &LoginViewModel::dismissRequested, this, &QWidget::close);
    refresh();
}

void LoginView::refresh()
{
    AuthFormParts::syncText(m_email, m_model->email());
    AuthFormParts::syncText(m_password, m_model->password());
    const bool inputs = m_model->areInputsEnabled();
    m_email->setEnabled(inputs);
    m_password->setEnabled(inputs);
    m_createAccount->setEnabled(inputs);
    AuthFormParts::showState(*m_model, m_primary, m_errorBox);
}

void LoginView::presentRegister()
{
    if (m_registerView)
        return;
    auto* sheet = new RegisterView([model = QPointer<LoginViewModel>(m_model)] {
        if (model)
            model->registerClosed();
    }, m_model->authManager(), this);
    sheet->setWindowFlag(Qt::Dialog);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    m_registerView = sheet;
    sheet->show();
}
